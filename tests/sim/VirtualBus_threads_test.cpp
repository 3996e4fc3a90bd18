#include "sim/VirtualBus.h"

#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "SimTestKit.h"
#include "sim/BoardNode.h"
#include "sim/BusPort.h"
#include "sim/CanBitTiming.h"

namespace orv::sim::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using Result = ICanLink::ReceiveResult;
using Texts = std::vector<std::string>;

CanFrame Numbered(uint32_t id, uint16_t n) {
    return {.id = id, .length = 2, .data = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)}};
}

// What the port receives until it stays quiet for quietMs.
Texts Drain(BusPort& port, int quietMs = 200) {
    Texts heard;
    CanFrame frame;
    while (port.Receive(frame, quietMs) == Result::Frame)
        heard.push_back(Text(frame));
    return heard;
}

class VirtualBusTest : public testing::Test {
  protected:
    SimLogCapture log_;
    VirtualBus bus_{BusSettings{}};
};

TEST_F(VirtualBusTest, EveryFrameReachesEveryOtherPortInOrder) {
    BusPort a(bus_, "a"), b(bus_, "b"), c(bus_, "c");
    Texts fromA, fromB;
    for (uint16_t i = 0; i < 300; ++i) {
        fromA.push_back(Text(Numbered(0x101, i)));
        fromB.push_back(Text(Numbered(0x202, i)));
    }
    auto send = [](BusPort* port, const Texts* frames) {
        for (const std::string& frame : *frames)
            port->Send(Frame(frame));
    };
    std::thread senderA(send, &a, &fromA), senderB(send, &b, &fromB);
    senderA.join();
    senderB.join();
    EXPECT_EQ(Drain(a), fromB) << "a hears all of b, in order, and nothing of its own";
    EXPECT_EQ(Drain(b), fromA);
    Texts atC = Drain(c);
    std::stable_partition(atC.begin(), atC.end(), [](auto& frame) { return frame[0] == '1'; });
    fromA.insert(fromA.end(), fromB.begin(), fromB.end());
    EXPECT_EQ(atC, fromA);
}

TEST_F(VirtualBusTest, AReaderThatFallsBehindLosesItsOldestFramesOnly) {
    BusPort sender(bus_, "sender"), slow(bus_, "slow", 4), witness(bus_, "witness");
    for (uint16_t i = 0; i < 10; ++i)
        sender.Send(Numbered(0x100, i));
    ASSERT_EQ(Drain(witness).size(), 10U);
    BusPort late(bus_, "late");
    sender.Send(Numbered(0x100, 10));
    EXPECT_EQ(Drain(late), Texts{"100#0A00"}) << "a port hears only what is sent after it attached";
    EXPECT_EQ(Drain(slow, 50), (Texts{"100#0700", "100#0800", "100#0900", "100#0A00"}));
}

TEST_F(VirtualBusTest, ClosingAPortEndsAReceiveThatWaitsOnAnotherThread) {
    BusPort port(bus_, "port");
    std::thread closer([&] {
        std::this_thread::sleep_for(milliseconds(20));
        port.Close();
    });
    CanFrame frame;
    EXPECT_EQ(port.Receive(frame, -1), Result::Closed);
    closer.join();
    EXPECT_FALSE(port.Send(frame));
}

TEST_F(VirtualBusTest, ABoardAnswersAfterTheReplyDelayAndASilentOneNever) {
    BoardConfig talking, silent;
    ASSERT_EQ(ParseBoardSpec(BoardKind::Puc, "12,mode=boot", talking), "");
    ASSERT_EQ(ParseBoardSpec(BoardKind::Puc, "13,mode=boot,silent", silent), "");
    BoardNode slowBoard(bus_, talking, milliseconds(150)),
        silentBoard(bus_, silent, milliseconds(0));
    BusPort client(bus_, "client");
    const auto start = steady_clock::now();
    client.Send(Frame("20D:70"));
    client.Send(Frame("20C:70"));
    EXPECT_EQ(Drain(client), Texts{"18C:0033313030"});
    EXPECT_GE(steady_clock::now() - start, milliseconds(150));
}

TEST(VirtualBus, ASubblockAt250kbitTakesItsBitTime) {
    constexpr uint32_t kBitrate = 250000;
    VirtualBus bus(BusSettings{kBitrate, 0.0, 1});
    BusPort sender(bus, "sender"), receiver(bus, "receiver");
    std::vector<CanFrame> frames(294, Frame("20C:100000500008"));
    std::mt19937 random(9);
    for (size_t i = 1; i < frames.size(); ++i) {
        frames[i].data[0] = static_cast<uint8_t>(0x27 | (i % 2) << 3);
        for (int j = 1; j < 8; ++j)
            frames[i].data[j] = static_cast<uint8_t>(random());
    }
    std::chrono::duration<double> expected(0);
    for (const CanFrame& frame : frames)
        expected += FrameDuration(frame, kBitrate);
    const auto start = steady_clock::now();
    for (const CanFrame& frame : frames)
        sender.Send(frame);
    CanFrame frame;
    for (size_t i = 0; i < frames.size(); ++i)
        ASSERT_EQ(receiver.Receive(frame, 2000), Result::Frame);
    const std::chrono::duration<double> took = steady_clock::now() - start;
    EXPECT_NEAR(took.count(), expected.count(), expected.count() * 0.05 + 0.003);
}

TEST(CanBitTiming, FramesCountTheirStuffBitsAndOnlyTheDataTheLengthNames) {
    // 34 dominant bits from start of frame to the end of the (zero) CRC, six stuff bits, then
    // the 13 recessive bits from the CRC delimiter to the end of intermission.
    CanFrame frame;
    frame.data[5] = 0x12;
    EXPECT_EQ(FrameBitCount(frame), 34U + 6U + 13U);
    EXPECT_EQ(FrameDuration(frame, 250000), std::chrono::nanoseconds(53 * 4000));
    EXPECT_EQ(FrameDuration(frame, 0), std::chrono::nanoseconds(0));
    // Any frame lies between no stuffing and the worst case.
    std::mt19937 random(5);
    for (int i = 0; i < 2000; ++i) {
        frame.id = random() & 0x7FF;
        frame.length = static_cast<uint8_t>(random() % 9);
        for (uint8_t& byte : frame.data)
            byte = static_cast<uint8_t>(random());
        const uint32_t stuffable = 34 + 8U * frame.length, bits = FrameBitCount(frame);
        ASSERT_GE(bits, stuffable + 13);
        ASSERT_LE(bits, stuffable + 13 + (stuffable - 1) / 4);
    }
}

}  // namespace
}  // namespace orv::sim::test
