#pragma once

#include <chrono>
#include <cstdint>

#include "canlink/CanLink.h"

namespace orv::sim {

// Bits that a data frame (standard or extended) occupies on the wire: start of frame through CRC
// with their stuff bits, then CRC delimiter, acknowledge slot and delimiter, end of frame and
// the three bits of intermission.
uint32_t FrameBitCount(const CanFrame& frame);

// How long the frame holds a bus running at bitrate bits per second.
std::chrono::nanoseconds FrameDuration(const CanFrame& frame, uint32_t bitrate);

}  // namespace orv::sim
