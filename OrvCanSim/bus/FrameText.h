#pragma once

#include <string>

#include "OrvCanSim/bus/VirtualBus.h"
#include "canlink/CanLink.h"

// The text forms of a frame that the trace file and the socketcand bridge share.
namespace orv::sim {

// "SECONDS.MICROSECONDS" since the epoch.
std::string FormatTimestamp(WallTime when);

// The identifier in upper-case hexadecimal: three digits for a standard frame, eight for an
// extended one, as candump and socketcand write them.
std::string FormatCanId(const CanFrame& frame);

// The data bytes as upper-case hexadecimal, two digits each, no separators.
std::string FormatHexData(const CanFrame& frame);

// One line of a candump log: "(SECONDS.MICROSECONDS) IFACE ID#DATA" with its line end.
std::string FormatCandumpLine(const CanFrame& frame, WallTime when, const std::string& iface);

}  // namespace orv::sim
