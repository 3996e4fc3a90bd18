#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The gateway's messages as they travel on TCP, every field little-endian. A command message
// (request or reply) is {u32 byte count = 16 + data length, u32 command, u32 status, u32 data
// length, data}; a reply echoes the request's command. OPEN, RESET and SEND_FRAME requests have
// layouts of their own and get the 12-byte short reply {byte count, command, result}.
namespace orv::sim {

constexpr size_t kCommandAt = 4;
constexpr size_t kStatusAt = 8;
constexpr size_t kDataLengthAt = 12;
constexpr size_t kDataAt = 16;
constexpr uint32_t kMaxDataBytes = 4000;
constexpr uint32_t kLargestMessage = kDataAt + kMaxDataBytes;
constexpr uint32_t kShortReplyBytes = 12;

// SEND_FRAME: node at 8, base identifier (u16) at 9, data length at 11, data bytes from 12.
constexpr size_t kRawNodeAt = 8;
constexpr size_t kRawBaseIdAt = 9;
constexpr size_t kRawLengthAt = 11;
constexpr size_t kRawDataAt = 12;

// Reply statuses.
constexpr uint32_t kNotCarriedOut = 0;
constexpr uint32_t CCB_STATUS_OK = 100;
constexpr uint32_t CCB_STATUS_NO_REPLY = 101;
constexpr uint32_t CCB_STATUS_SAME_SUBBLOCK = 102;
constexpr uint32_t CCB_STATUS_NO_VARIANT = 104;

// Little-endian fields; bytes past the end read as 0.
uint32_t U32At(const std::vector<uint8_t>& bytes, size_t at);
uint16_t U16At(const std::vector<uint8_t>& bytes, size_t at);
uint8_t ByteAt(const std::vector<uint8_t>& bytes, size_t at);

std::vector<uint8_t> ShortReply(uint32_t command, uint32_t result);
std::vector<uint8_t> CommandReply(uint32_t command, uint32_t status,
                                  const std::vector<uint8_t>& data);

}  // namespace orv::sim
