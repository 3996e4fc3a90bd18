#pragma once

#include <string>

#include "canlink/CanLink.h"
#include "OrvCanSim/bus/VirtualBus.h"

// The server's side of the socketcand text: what a client sends and what it receives.
namespace orv::sim {

// "send ID LEN B0 ..." (as the splitter hands it over, without brackets) into a frame: a
// hexadecimal identifier (up to 3 digits: standard; 8 digits: extended), a length of 0..8 and
// exactly that many hexadecimal bytes.
// Returns an empty text on success, else what is wrong.
std::string ParseSendCommand(const std::string& message, CanFrame& frame);

// "< frame ID SECONDS.MICROSECONDS HEXDATA >".
std::string FormatFrameMessage(const CanFrame& frame, WallTime when);

}  // namespace orv::sim
