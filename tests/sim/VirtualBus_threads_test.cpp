// The virtual bus, the boards on it and the gateway front end, in one process.
#include "sim/VirtualBus.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "SimTestKit.h"
#include "sim/BoardNode.h"
#include "sim/BusPort.h"
#include "sim/CanBitTiming.h"
#include "sim/GatewayServer.h"
#include "support/FakeClock.h"
#include "transport/GatewayCodes.h"

namespace orv::sim::test {
namespace {

using std::chrono::milliseconds;
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

TEST(CanBitTiming, FramesCountTheirStuffBitsAndOnlyTheDataTheLengthNames) {
    // 34 dominant bits from start of frame to the end of the (zero) CRC, six stuff bits, then
    // the 13 recessive bits from the CRC delimiter to the end of intermission.
    CanFrame frame;
    frame.data[5] = 0x12;
    EXPECT_EQ(FrameBitCount(frame), 34U + 6U + 13U);
    EXPECT_EQ(FrameDuration(frame, 250000), std::chrono::nanoseconds(53 * 4000));
    EXPECT_EQ(FrameDuration(frame, 0), std::chrono::nanoseconds(0));
}

const Bytes kInfo = {0, '3', '1', '0', '0', 0, 0, 0};

// One gateway on a bus with a PUC (node 12) in its boot loader. The gateway's pauses pass at
// once; its waits for answers are real.
class GatewayTest : public VirtualBusTest {
  protected:
    orv::test::FakeClock clock_;
    BoardNode puc_{bus_, Config(BoardKind::Puc, "12,mode=boot"), milliseconds(0)};
    GatewayServer gateway_{bus_, 0, "127.0.0.1", 0, 0, {}};
    TcpClient client_{gateway_.Port()};
};

TEST_F(GatewayTest, ReservedUnknownAndUnanswerableCommandsGetTheirStatus) {
    const std::vector<std::tuple<uint32_t, Bytes, uint32_t>> steps = {
        {CCB_CMD_RESERVED_211, {}, CCB_STATUS_NOT_EXECUTED},
        {219, {}, CCB_STATUS_NOT_EXECUTED},
        {CCB_CMD_BOOT_INIT, BootInit(12), CCB_STATUS_NO_VARIANT},
        {CCB_CMD_CONFIGURE, BootInit(50), CCB_STATUS_OK},
        {CCB_CMD_GET_INFO, {}, CCB_STATUS_NO_REPLY},  // nobody is node 50
        {CCB_CMD_CONFIGURE, BootInit(12), CCB_STATUS_OK}};
    for (const auto& [command, payload, status] : steps) {
        EXPECT_EQ(Command(client_, command, payload), status) << command;
    }
    Bytes info;
    EXPECT_EQ(Command(client_, CCB_CMD_GET_INFO, {}, &info), CCB_STATUS_OK);
    EXPECT_EQ(info, kInfo);
    EXPECT_THAT(log_.Lines(), testing::Contains(testing::HasSubstr("command 208 -> status 100")));
}

TEST_F(GatewayTest, FramesBetweenCommandsNeverReachTheGateway) {
    ASSERT_EQ(Command(client_, CCB_CMD_CONFIGURE, BootInit(12)), CCB_STATUS_OK);
    constexpr int kFlood = 20000;
    BusPort flooder(bus_, "flooder"), witness(bus_, "witness", kFlood);
    for (int i = 0; i < kFlood; ++i)
        flooder.Send(Frame("18C:EE"));
    CanFrame frame;
    for (int i = 0; i < kFlood; ++i)
        ASSERT_EQ(witness.Receive(frame, 5000), ICanLink::ReceiveResult::Frame);
    Bytes info;
    EXPECT_EQ(Command(client_, CCB_CMD_GET_INFO, {}, &info), CCB_STATUS_OK);
    EXPECT_EQ(info, kInfo) << "not a forged answer";
}

}  // namespace
}  // namespace orv::sim::test
