#include "OrvCanSim/gateway/GatewayMessage.h"

namespace orv::sim {
namespace {

void AppendU32(std::vector<uint8_t>& bytes, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        bytes.push_back(static_cast<uint8_t>(value >> shift));
    }
}

}  // namespace

uint8_t ByteAt(const std::vector<uint8_t>& bytes, size_t at) {
    return at < bytes.size() ? bytes[at] : 0;
}

uint16_t U16At(const std::vector<uint8_t>& bytes, size_t at) {
    return static_cast<uint16_t>(ByteAt(bytes, at) | ByteAt(bytes, at + 1) << 8);
}

uint32_t U32At(const std::vector<uint8_t>& bytes, size_t at) {
    return U16At(bytes, at) | static_cast<uint32_t>(U16At(bytes, at + 2)) << 16;
}

std::vector<uint8_t> ShortReply(uint32_t command, uint32_t result) {
    std::vector<uint8_t> bytes;
    for (uint32_t field : {kShortReplyBytes, command, result}) {
        AppendU32(bytes, field);
    }
    return bytes;
}

std::vector<uint8_t> CommandReply(uint32_t command, uint32_t status,
                                  const std::vector<uint8_t>& data) {
    const auto dataLength = static_cast<uint32_t>(data.size());
    std::vector<uint8_t> bytes;
    for (uint32_t field :
         {static_cast<uint32_t>(kDataAt) + dataLength, command, status, dataLength}) {
        AppendU32(bytes, field);
    }
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

}  // namespace orv::sim
