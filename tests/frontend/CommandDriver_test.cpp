#include "frontend/CommandDriver.h"

#include <gtest/gtest.h>

#include <cstring>

#include "FlowGateway.h"
#include "frontend/ExitCodes.h"
#include "platform/Console.h"
#include "support/FakeClock.h"
#include "support/HexWriter.h"
#include "support/TestFiles.h"
#include "transport/GatewayCodes.h"

namespace {

using orv::test::FlowGateway;

class DispatchTest : public testing::Test {
  protected:
    orv::test::FakeClock clock_;
    orv::ConsoleCapture console_;
    FlowGateway gateway_;
    RunSettings settings_;
};

TEST_F(DispatchTest, ACombinationWithoutAFlowIsRefused) {
    settings_.mode = MODE_HT;
    settings_.command = CMD_VERIFY;
    EXPECT_EQ(DispatchCommand(settings_, gateway_), kExitFailure);
    EXPECT_EQ(console_.Text(), "Error - unsupported protocol!");
    EXPECT_TRUE(gateway_.Commands().empty());
}

struct ShortCase {
    const char* name;
    int command;
    int mode;
    std::vector<FlowGateway::Board> boards;
    int exitCode;
    std::string opening;  // the driver's first lines
    std::string ending;   // the last output
};

class ShortCommandTest : public DispatchTest, public testing::WithParamInterface<ShortCase> {};

TEST_P(ShortCommandTest, PrintsItsLinesAroundTheOperation) {
    const ShortCase& c = GetParam();
    for (const FlowGateway::Board& board : c.boards)
        gateway_.AddBoard(board);
    settings_.mode = c.mode;
    settings_.command = c.command;
    settings_.nodeId = 16;
    settings_.newNodeId = 33;
    EXPECT_EQ(DispatchCommand(settings_, gateway_), c.exitCode);
    EXPECT_TRUE(console_.Text().starts_with(c.opening)) << console_.Text();
    EXPECT_TRUE(console_.Text().ends_with(c.ending)) << console_.Text();
}

const auto pucInfo = FlowGateway::PucInfo();
const std::string kToBoot = "Please wait... going to BOOT mode\nBusId: 0 NodeId: 16\n";
const std::string kGetInfo = "Please wait... reading PUC INFO block\nBusId: 0 NodeId: 16\n";
const std::string kToApp = "Please wait... jumping to application\nBusId: 0 NodeId: 16\n";
const std::string kScan =
    "Please wait... scanning devices in BOOT mode (this can last about 60 seconds)\n"
    "BusId: 0\n";
const std::string kSetId = "Please wait... changing device BOOT CAN ID\nBusId: 0\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, ShortCommandTest,
    testing::Values(ShortCase{"ToBoot",
                              CMD_TO_BOOT,
                              MODE_PUC,
                              {{16, 16, false, pucInfo}},
                              kExitSuccess,
                              kToBoot,
                              "Status: OK\nGoing to boot mode (for PUC) OK\n"},
                    // The operation's own message is the last word; the driver adds none.
                    ShortCase{
                        "ToBootFails",
                        CMD_TO_BOOT,
                        MODE_PUC,
                        {},
                        kExitFailure,
                        kToBoot,
                        "It is possible that this PUC uses different CAN node ID in BOOT mode!\n"},
                    ShortCase{"GetInfo",
                              CMD_GET_INFO,
                              MODE_PUC,
                              {{16, 16, true, pucInfo}},
                              kExitSuccess,
                              kGetInfo,
                              "not activated\n"},
                    ShortCase{"GetInfoFails",
                              CMD_GET_INFO,
                              MODE_PUC,
                              {},
                              kExitFailure,
                              kGetInfo,
                              "Check PUC or try other nodeID!\nGetting PUC BOOT info failed!"},
                    ShortCase{"ToApp",
                              CMD_TO_APP,
                              MODE_PUC,
                              {{16, 16, true, pucInfo}},
                              kExitSuccess,
                              kToApp,
                              "Jump to application DONE\n"},
                    ShortCase{"ToAppFails",
                              CMD_TO_APP,
                              MODE_PUC,
                              {},
                              kExitFailure,
                              kToApp,
                              "Jumping to application failed!"},
                    ShortCase{"Scan",
                              CMD_SCAN,
                              MODE_PUC,
                              {{40, 0x22, true, pucInfo}},
                              kExitSuccess,
                              kScan,
                              "Detected nodes in BOOT mode:\n0x22 \n"},
                    ShortCase{"SetIdFails",
                              CMD_SET_ID,
                              MODE_PUC,
                              {},
                              kExitFailure,
                              kSetId,
                              "CAN ID changing failed!"},
                    ShortCase{"SetId",
                              CMD_SET_ID,
                              MODE_PUC,
                              {{16, 16, true, pucInfo}},
                              kExitSuccess,
                              kSetId,
                              "Status: OK\n"}),
    [](const testing::TestParamInfo<ShortCase>& i) { return i.param.name; });

class VerifyTest : public DispatchTest {
  protected:
    VerifyTest() {
        settings_.mode = MODE_PUC;
        settings_.command = CMD_VERIFY;
        settings_.nodeId = 12;
        std::strcpy(settings_.hexFileName, dir_.File("app.hex").c_str());
        gateway_.AddBoard({12, 12, true, FlowGateway::PucInfo()});
        orv::test::HexWriter hex;
        hex.Bytes(0x5000, std::vector<uint8_t>(2048, 0x3C)).EndOfFile();
        hex.Save(settings_.hexFileName);
    }

    orv::test::TempDir dir_;
};

TEST_F(VerifyTest, MatchingFlashVerifies) {
    std::fill_n(gateway_.Flash().begin() + 0x5000, 2048, 0x3C);
    EXPECT_EQ(DispatchCommand(settings_, gateway_), kExitSuccess);
    EXPECT_TRUE(
        console_.Text().starts_with("Please wait... verifying\nBusId: 0 NodeId: 12 "
                                    "HexFileName: " +
                                    dir_.File("app.hex") + "\n"));
    EXPECT_TRUE(console_.Text().ends_with("Finalize downloading DONE\nVerify successful!\n"))
        << console_.Text();
}

TEST_F(VerifyTest, DifferentFlashFails) {
    EXPECT_EQ(DispatchCommand(settings_, gateway_), kExitFailure);
    EXPECT_NE(console_.Text().find("Checking... Failed!\n"), std::string::npos);
    EXPECT_TRUE(console_.Text().ends_with("Finalize downloading DONE\nVerify failed!"))
        << console_.Text();
}

}  // namespace
