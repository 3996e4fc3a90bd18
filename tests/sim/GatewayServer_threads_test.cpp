#include "sim/GatewayServer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "SimTestKit.h"
#include "sim/BoardNode.h"
#include "sim/BusPort.h"
#include "support/FakeClock.h"
#include "transport/GatewayCodes.h"

namespace orv::sim::test {
namespace {

BoardConfig Board(BoardKind kind, const std::string& spec) {
    BoardConfig config;
    EXPECT_EQ(ParseBoardSpec(kind, spec, config), "");
    return config;
}

const Bytes kInfo = {0, '3', '1', '0', '0', 0, 0, 0};

// One gateway on a bus with a PUC (node 12) and an HT board (node 30) in their boot loaders.
// The gateway's pauses pass at once; its waits for answers are real.
class GatewayTest : public testing::Test {
  protected:
    // Each command with its payload, and the statuses and reply data they got.
    std::pair<std::vector<uint32_t>, std::vector<Bytes>> Run(
        const std::vector<std::pair<uint32_t, Bytes>>& commands) {
        std::pair<std::vector<uint32_t>, std::vector<Bytes>> replies;
        for (const auto& [command, payload] : commands) {
            Bytes data;
            replies.first.push_back(Command(client_, command, payload, &data));
            if (!data.empty())
                replies.second.push_back(data);
        }
        return replies;
    }

    SimLogCapture log_;
    orv::test::FakeClock clock_;
    VirtualBus bus_{BusSettings{}};
    BoardNode puc_{bus_, Board(BoardKind::Puc, "12,mode=boot"), std::chrono::milliseconds(0)};
    BoardNode ht_{bus_, Board(BoardKind::Ht, "30,mode=boot"), std::chrono::milliseconds(0)};
    GatewayServer gateway_{bus_, 0, "127.0.0.1", 0, 0};
    TcpClient client_{gateway_.Port()};
};

TEST_F(GatewayTest, ReservedUnknownAndUnanswerableCommandsGetTheirStatus) {
    EXPECT_EQ(
        Run({{CCB_CMD_RESERVED_211, {}},
             {219, {}},
             {CCB_CMD_BOOT_INIT, BootInit(12)},
             {CCB_CMD_CONFIGURE, BootInit(50)},
             {CCB_CMD_GET_INFO, {}},  // nobody is node 50
             {CCB_CMD_CONFIGURE, BootInit(12)},
             {CCB_CMD_GET_INFO, {}}}),
        std::make_pair(std::vector<uint32_t>{CCB_STATUS_NOT_EXECUTED, CCB_STATUS_NOT_EXECUTED,
                                             CCB_STATUS_NO_VARIANT, CCB_STATUS_OK,
                                             CCB_STATUS_NO_REPLY, CCB_STATUS_OK, CCB_STATUS_OK},
                       std::vector<Bytes>{kInfo}));
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
