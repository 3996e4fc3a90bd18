#include "frontend/CommandDriver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "FlowGateway.h"
#include "frontend/ExitCodes.h"
#include "os/Console.h"
#include "support/FakeClock.h"
#include "support/HexWriter.h"
#include "support/TestFiles.h"

namespace {

using orv::test::FlowGateway;

TEST(DispatchCommand, ACombinationWithoutAFlowIsRefused) {
    orv::ConsoleCapture console;
    FlowGateway gateway;
    RunSettings settings;
    settings.mode = MODE_HT;
    settings.command = CMD_VERIFY;
    EXPECT_EQ(DispatchCommand(settings, gateway), kExitFailure);
    EXPECT_EQ(console.Text(), "Error - unsupported protocol!");
    EXPECT_TRUE(gateway.Commands().empty());
}

// The driver's first lines, then the operation's own message as the last word. Their success
// through a real gateway, and ToBoot's failure, are proven end to end.
TEST(DispatchCommand, ShortCommandsThatNoBoardAnswersFail) {
    const std::string node16 = "\nBusId: 0 NodeId: 16\n";
    const std::tuple<int, std::string, std::string> cases[] = {
        {CMD_GET_INFO, "Please wait... reading PUC INFO block" + node16,
         "Check PUC or try other nodeID!\nGetting PUC BOOT info failed!"},
        {CMD_TO_APP, "Please wait... jumping to application" + node16,
         "Jumping to application failed!"},
        {CMD_SET_ID, "Please wait... changing device BOOT CAN ID\nBusId: 0\n",
         "CAN ID changing failed!"},
    };
    orv::test::FakeClock clock;
    for (const auto& [command, opening, ending] : cases) {
        orv::ConsoleCapture console;
        FlowGateway gateway;
        RunSettings settings;
        settings.mode = MODE_PUC;
        settings.command = command;
        settings.nodeId = 16;
        settings.newNodeId = 33;
        EXPECT_EQ(DispatchCommand(settings, gateway), kExitFailure);
        EXPECT_TRUE(console.Text().starts_with(opening)) << console.Text();
        EXPECT_TRUE(console.Text().ends_with(ending)) << console.Text();
    }
}

// A matching flash is verified end to end; a difference must fail the run.
TEST(DispatchCommand, VerifyFailsOnAFlashThatDiffersFromTheFile) {
    orv::test::TempDir dir;
    orv::test::FakeClock clock;
    orv::test::HexWriter()
        .Bytes(0x5000, std::vector<uint8_t>(2048, 0x3C))
        .EndOfFile()
        .Save(dir.File("app.hex"));
    orv::ConsoleCapture console;
    FlowGateway gateway;
    gateway.AddBoard({12, 12, true, FlowGateway::PucInfo()});
    RunSettings settings;
    settings.mode = MODE_PUC;
    settings.command = CMD_VERIFY;
    settings.nodeId = 12;
    std::strcpy(settings.hexFileName, dir.File("app.hex").c_str());
    EXPECT_EQ(DispatchCommand(settings, gateway), kExitFailure);
    const std::string& out = console.Text();
    EXPECT_TRUE(out.starts_with(
        "Please wait... verifying\nBusId: 0 NodeId: 12 HexFileName: " + dir.File("app.hex") + "\n"))
        << out;
    EXPECT_NE(out.find("Checking... Failed!\n"), std::string::npos);
    EXPECT_TRUE(out.ends_with("Finalize downloading DONE\nVerify failed!")) << out;
}

}  // namespace
