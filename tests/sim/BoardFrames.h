#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "platform/CanLink.h"

// Frames as the tool's transports put them on the bus, for feeding the board models.
namespace orv::sim::test {

// An 8-byte frame to the boot loader of node: the bytes given, zeros after them.
CanFrame ToNode(uint8_t node, std::initializer_list<uint8_t> bytes);
// A raw frame to node whose length is the number of bytes given.
CanFrame RawToNode(uint8_t node, std::initializer_list<uint8_t> bytes);
CanFrame Nmt(uint8_t specifier, uint8_t node);

// The data segments of a sub-block: {0x20 | toggle | n, n bytes, then filler}.
std::vector<CanFrame> Segments(uint8_t node, const std::vector<uint8_t>& data, uint8_t filler = 0);

uint16_t Checksum(const std::vector<uint8_t>& data);
// count bytes that differ from one sub-block to the next.
std::vector<uint8_t> Pattern(size_t count, uint8_t seed);

std::array<uint8_t, 8> BytesOf(const CanFrame& frame);

}  // namespace orv::sim::test
