#include "sim/CanBitTiming.h"

#include <gtest/gtest.h>

#include <random>

namespace orv::sim {
namespace {

TEST(CanBitTiming, AnAllZeroFrameCarriesAStuffBitAfterEveryFiveZeros) {
    // 34 dominant bits from start of frame to the end of the (zero) CRC, six stuff bits, then
    // the 13 recessive bits from the CRC delimiter to the end of intermission.
    CanFrame empty;
    EXPECT_EQ(FrameBitCount(empty), 34U + 6U + 13U);
    EXPECT_EQ(FrameDuration(empty, 250000), std::chrono::nanoseconds(53 * 4000));
    EXPECT_EQ(FrameDuration(empty, 0), std::chrono::nanoseconds(0));
}

TEST(CanBitTiming, EveryFrameLiesBetweenNoStuffingAndTheWorstCase) {
    std::mt19937 random(5);
    for (int i = 0; i < 2000; ++i) {
        CanFrame frame;
        frame.id = random() & 0x7FF;
        frame.length = static_cast<uint8_t>(random() % 9);
        for (uint8_t& byte : frame.data) {
            byte = static_cast<uint8_t>(random());
        }
        const uint32_t stuffable = 34 + 8U * frame.length;
        const uint32_t bits = FrameBitCount(frame);
        ASSERT_GE(bits, stuffable + 13);
        ASSERT_LE(bits, stuffable + 13 + (stuffable - 1) / 4);
    }
}

TEST(CanBitTiming, OnlyTheDataBytesThatTheLengthNamesCount) {
    CanFrame shortFrame;
    shortFrame.length = 2;
    shortFrame.data[0] = 0x55;
    shortFrame.data[1] = 0xAA;
    CanFrame sameWithTail = shortFrame;
    sameWithTail.data[5] = 0x12;
    EXPECT_EQ(FrameBitCount(shortFrame), FrameBitCount(sameWithTail));
}

}  // namespace
}  // namespace orv::sim
