#include "OrvCanSim/bus/CanBitTiming.h"

#include <algorithm>
#include <vector>

#include "OrvCanSim/bus/VirtualBus.h"

namespace orv::sim {
namespace {

constexpr uint32_t kUnstuffedTrailerBits = 1 + 1 + 1 + 7 + 3;
constexpr uint16_t kCrc15Polynomial = 0x4599;

void AppendBits(std::vector<bool>& bits, uint32_t value, int count) {
    for (int bit = count - 1; bit >= 0; --bit) {
        bits.push_back(((value >> bit) & 1U) != 0);
    }
}

uint16_t Crc15(const std::vector<bool>& bits) {
    uint16_t crc = 0;
    for (bool bit : bits) {
        const bool feedback = bit != (((crc >> 14) & 1U) != 0);
        crc = static_cast<uint16_t>((crc << 1) & 0x7FFF);
        if (feedback) {
            crc ^= kCrc15Polynomial;
        }
    }
    return crc;
}

// A transmitter inserts the opposite bit after five equal ones; the stuff bit starts the next run.
uint32_t StuffBitCount(const std::vector<bool>& bits) {
    uint32_t stuffed = 0;
    int run = 0;
    bool last = false;
    for (bool bit : bits) {
        if (run > 0 && bit == last) {
            ++run;
        } else {
            run = 1;
            last = bit;
        }
        if (run == 5) {
            ++stuffed;
            last = !bit;
            run = 1;
        }
    }
    return stuffed;
}

}  // namespace

uint32_t FrameBitCount(const CanFrame& frame) {
    const uint8_t length = std::min<uint8_t>(frame.length, 8);
    std::vector<bool> bits;
    bits.push_back(false);  // start of frame
    if ((frame.id & kExtendedFrame) != 0) {
        AppendBits(bits, frame.id >> 18 & kStandardIdMask, 11);
        AppendBits(bits, 3, 2);  // SRR, IDE
        AppendBits(bits, frame.id & 0x3FFFF, 18);
        AppendBits(bits, 0, 3);  // RTR, r1, r0
    } else {
        AppendBits(bits, frame.id & kStandardIdMask, 11);
        AppendBits(bits, 0, 3);  // RTR, IDE, r0
    }
    AppendBits(bits, length, 4);
    for (uint8_t i = 0; i < length; ++i) {
        AppendBits(bits, frame.data[i], 8);
    }
    AppendBits(bits, Crc15(bits), 15);
    return static_cast<uint32_t>(bits.size()) + StuffBitCount(bits) + kUnstuffedTrailerBits;
}

std::chrono::nanoseconds FrameDuration(const CanFrame& frame, uint32_t bitrate) {
    if (bitrate == 0) {
        return std::chrono::nanoseconds(0);
    }
    return std::chrono::nanoseconds(static_cast<int64_t>(FrameBitCount(frame)) * 1000000000LL /
                                    bitrate);
}

}  // namespace orv::sim
