#include "sim/VirtualBus.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "BoardFrames.h"
#include "SimLogCapture.h"
#include "sim/BoardNode.h"
#include "sim/BusPort.h"
#include "sim/CanBitTiming.h"

namespace orv::sim::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

class VirtualBusTest : public testing::Test {
  protected:
    SimLogCapture log_;
};

CanFrame Numbered(uint32_t id, uint16_t number) {
    CanFrame frame;
    frame.id = id;
    frame.length = 2;
    frame.data[0] = static_cast<uint8_t>(number);
    frame.data[1] = static_cast<uint8_t>(number >> 8);
    return frame;
}

// Everything the port receives until it stays quiet for quietMs.
std::vector<CanFrame> Drain(BusPort& port, int quietMs = 200) {
    std::vector<CanFrame> frames;
    CanFrame frame;
    while (port.Receive(frame, quietMs) == ICanLink::ReceiveResult::Frame) {
        frames.push_back(frame);
    }
    return frames;
}

std::vector<uint32_t> Ids(const std::vector<CanFrame>& frames, uint32_t only = 0) {
    std::vector<uint32_t> ids;
    for (const CanFrame& frame : frames) {
        if (only == 0 || frame.id == only) {
            ids.push_back(frame.id << 16 | frame.data[1] << 8 | frame.data[0]);
        }
    }
    return ids;
}

TEST_F(VirtualBusTest, EveryFrameReachesEveryOtherPortInOneOrder) {
    VirtualBus bus(BusSettings{});
    BusPort a(bus, "a");
    BusPort b(bus, "b");
    BusPort c(bus, "c");
    constexpr uint16_t kEach = 300;
    std::thread senderA([&] {
        for (uint16_t i = 0; i < kEach; ++i) {
            a.Send(Numbered(0x101, i));
        }
    });
    std::thread senderB([&] {
        for (uint16_t i = 0; i < kEach; ++i) {
            b.Send(Numbered(0x202, i));
        }
    });
    senderA.join();
    senderB.join();
    const std::vector<CanFrame> atA = Drain(a);
    const std::vector<CanFrame> atB = Drain(b);
    const std::vector<CanFrame> atC = Drain(c);

    ASSERT_EQ(atC.size(), 2U * kEach);
    EXPECT_EQ(Ids(atA), Ids(atC, 0x202)) << "a hears all of b, in order, and nothing of its own";
    EXPECT_EQ(Ids(atB), Ids(atC, 0x101));
    for (uint16_t i = 0; i < kEach; ++i) {
        ASSERT_EQ(Ids(atA)[i], 0x2020000U | i);
    }
}

TEST_F(VirtualBusTest, AReaderThatFallsBehindLosesItsOldestFramesOnly) {
    VirtualBus bus(BusSettings{});
    BusPort sender(bus, "sender");
    BusPort slow(bus, "slow", 4);
    BusPort witness(bus, "witness");
    for (uint16_t i = 0; i < 10; ++i) {
        sender.Send(Numbered(0x100, i));
    }
    ASSERT_EQ(Drain(witness).size(), 10U);
    BusPort late(bus, "late");
    sender.Send(Numbered(0x100, 10));
    EXPECT_EQ(Drain(late).size(), 1U) << "a port hears only what is sent after it attached";
    const std::vector<CanFrame> kept = Drain(slow, 50);
    ASSERT_EQ(kept.size(), 4U);
    EXPECT_EQ(kept.front().data[0], 7);
    EXPECT_EQ(kept.back().data[0], 10);
}

TEST_F(VirtualBusTest, ClosingAPortEndsAReceiveThatWaitsOnAnotherThread) {
    VirtualBus bus(BusSettings{});
    BusPort port(bus, "port");
    std::thread closer([&] {
        std::this_thread::sleep_for(milliseconds(20));
        port.Close();
    });
    CanFrame frame;
    EXPECT_EQ(port.Receive(frame, -1), ICanLink::ReceiveResult::Closed);
    closer.join();
    EXPECT_FALSE(port.Send(frame));
}

// Which of count frames a receiver gets on a lossy bus.
std::vector<uint32_t> Survivors(uint64_t seed, int count) {
    VirtualBus bus(BusSettings{0, 0.3, seed});
    BusPort sender(bus, "sender");
    BusPort receiver(bus, "receiver");
    for (int i = 0; i < count; ++i) {
        sender.Send(Numbered(0x123, static_cast<uint16_t>(i)));
    }
    return Ids(Drain(receiver));
}

TEST_F(VirtualBusTest, TheSameSeedLosesTheSameFrames) {
    constexpr int kFrames = 1000;
    const std::vector<uint32_t> first = Survivors(42, kFrames);
    EXPECT_EQ(Survivors(42, kFrames), first);
    EXPECT_NE(Survivors(43, kFrames), first);
    EXPECT_NEAR(static_cast<double>(first.size()) / kFrames, 0.7, 0.06);
}

TEST_F(VirtualBusTest, ASubblockAt250kbitTakesItsBitTime) {
    constexpr uint32_t kBitrate = 250000;
    VirtualBus bus(BusSettings{kBitrate, 0.0, 1});
    BusPort sender(bus, "sender");
    BusPort receiver(bus, "receiver");
    std::vector<CanFrame> frames = {ToNode(12, {0x10, 0, 0x00, 0x50, 0x00, 0x08, 0x12, 0x34})};
    const std::vector<CanFrame> segments = Segments(12, Pattern(2048, 9));
    frames.insert(frames.end(), segments.begin(), segments.end());
    std::chrono::nanoseconds expected(0);
    for (const CanFrame& frame : frames) {
        expected += FrameDuration(frame, kBitrate);
    }

    const auto start = steady_clock::now();
    for (const CanFrame& frame : frames) {
        sender.Send(frame);
    }
    CanFrame frame;
    for (size_t i = 0; i < frames.size(); ++i) {
        ASSERT_EQ(receiver.Receive(frame, 2000), ICanLink::ReceiveResult::Frame);
    }
    const auto took = steady_clock::now() - start;
    EXPECT_NEAR(std::chrono::duration<double>(took).count(),
                std::chrono::duration<double>(expected).count(),
                std::chrono::duration<double>(expected).count() * 0.05 + 0.003)
        << frames.size() << " frames";
}

TEST_F(VirtualBusTest, ABoardAnswersAfterTheReplyDelayAndASilentOneNever) {
    VirtualBus bus(BusSettings{});
    BoardConfig talking;
    ASSERT_EQ(ParseBoardSpec(BoardKind::Puc, "12,mode=boot", talking), "");
    BoardConfig silent;
    ASSERT_EQ(ParseBoardSpec(BoardKind::Puc, "13,mode=boot,silent", silent), "");
    BoardNode slowBoard(bus, talking, milliseconds(150));
    BoardNode silentBoard(bus, silent, milliseconds(0));
    BusPort client(bus, "client");

    const auto start = steady_clock::now();
    client.Send(ToNode(13, {0x70}));
    client.Send(ToNode(12, {0x70}));
    CanFrame answer;
    ASSERT_EQ(client.Receive(answer, 2000), ICanLink::ReceiveResult::Frame);
    EXPECT_GE(steady_clock::now() - start, milliseconds(150));
    EXPECT_EQ(answer.id, 0x18CU);
    EXPECT_EQ(client.Receive(answer, 100), ICanLink::ReceiveResult::Timeout);
}

}  // namespace
}  // namespace orv::sim::test
