#include "BoardFrames.h"

#include <algorithm>

namespace orv::sim::test {

CanFrame ToNode(uint8_t node, std::initializer_list<uint8_t> bytes) {
    CanFrame frame = RawToNode(node, bytes);
    frame.length = 8;
    return frame;
}

CanFrame RawToNode(uint8_t node, std::initializer_list<uint8_t> bytes) {
    CanFrame frame;
    frame.id = 0x200U | node;
    frame.length = static_cast<uint8_t>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), frame.data);
    return frame;
}

CanFrame Nmt(uint8_t specifier, uint8_t node) {
    CanFrame frame;
    frame.length = 2;
    frame.data[0] = specifier;
    frame.data[1] = node;
    return frame;
}

std::vector<CanFrame> Segments(uint8_t node, const std::vector<uint8_t>& data, uint8_t filler) {
    std::vector<CanFrame> frames;
    uint8_t toggle = 0;
    for (size_t at = 0; at < data.size(); at += 7) {
        const size_t count = std::min<size_t>(7, data.size() - at);
        CanFrame frame = ToNode(node, {static_cast<uint8_t>(0x20 | toggle | count)});
        std::fill(frame.data + 1, frame.data + 8, filler);
        std::copy(data.begin() + static_cast<long>(at),
                  data.begin() + static_cast<long>(at + count), frame.data + 1);
        frames.push_back(frame);
        toggle ^= 0x08;
    }
    return frames;
}

uint16_t Checksum(const std::vector<uint8_t>& data) {
    uint16_t sum = 0;
    for (uint8_t byte : data) {
        sum = static_cast<uint16_t>(sum + byte);
    }
    return sum;
}

std::vector<uint8_t> Pattern(size_t count, uint8_t seed) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<uint8_t>(seed + i * 7 + i / 251);
    }
    return bytes;
}

std::array<uint8_t, 8> BytesOf(const CanFrame& frame) {
    std::array<uint8_t, 8> bytes{};
    std::copy(frame.data, frame.data + 8, bytes.begin());
    return bytes;
}

}  // namespace orv::sim::test
