#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "TcpClient.h"
#include "support/SimProcess.h"
#include "support/TestFiles.h"
#include "support/ToolRun.h"
#include "transport/GatewayCodes.h"

namespace orv::sim::test {
namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;

// For runs that end by themselves: help and refusals.
orv::test::ToolResult RunSim(const std::vector<std::string>& args) {
    orv::test::ToolResult result =
        orv::test::RunTool(args, {.timeoutMs = 10000, .program = ORV_CAN_SIM_BIN});
    EXPECT_FALSE(result.timedOut) << args.back();
    return result;
}

TEST(OrvCanSimProcess, ItNamesEveryListenerThenSaysReady) {
    orv::test::SimProcess sim(
        {"--puc", "12", "--gateway", "0:0", "--gateway", "3:0", "--bridge", "0"});
    EXPECT_GT(sim.GatewayPort(0), 0);
    EXPECT_GT(sim.GatewayPort(3), 0);
    EXPECT_NE(sim.GatewayPort(0), sim.GatewayPort(3));
    EXPECT_GT(sim.BridgePort(), 0);
    EXPECT_EQ(sim.GatewayPort(1), -1);
    EXPECT_EQ(sim.Output(), "LISTEN gateway 0 " + std::to_string(sim.GatewayPort(0)) +
                                "\nLISTEN gateway 3 " + std::to_string(sim.GatewayPort(3)) +
                                "\nLISTEN bridge " + std::to_string(sim.BridgePort()) +
                                "\nREADY\n");
}

TEST(OrvCanSimProcess, SigintAndSigtermEndItCleanly) {
    for (int signal : {SIGINT, SIGTERM}) {
        orv::test::SimProcess sim({"--puc", "12", "--gateway", "0:0"});
        TcpClient idle(sim.GatewayPort(0));
        EXPECT_EQ(sim.Stop(signal), 0);
        EXPECT_THAT(sim.Log(), HasSubstr(signal == SIGINT ? "SIGINT" : "SIGTERM"));
        EXPECT_THAT(sim.Log(), HasSubstr("ended"));
    }
}

TEST(OrvCanSimProcess, AGatewayCommandInProgressDoesNotHoldUpTheEnd) {
    orv::test::SimProcess sim({"--gateway", "0:0"});
    TcpClient client(sim.GatewayPort(0));
    // A status poll of a node that is not there waits seconds for its answer.
    const CCcbMessage poll = GatewayRequest(CCB_CMD_GET_STATUS);
    ASSERT_TRUE(client.Send(&poll, poll.length));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(sim.Stop(SIGTERM), 0);
    EXPECT_THAT(sim.Log(), HasSubstr("still busy"));
}

TEST(OrvCanSimProcess, HelpExplainsTheOptions) {
    const orv::test::ToolResult help = RunSim({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* option : {"--puc", "--ht", "--gateway", "--bridge", "--channel", "--bind",
                               "--bitrate", "--loss", "--reply-delay", "--close-after", "--seed",
                               "--trace", "--scenario", "stuck-busy", "status-error"}) {
        EXPECT_THAT(help.out, HasSubstr(option));
    }
}

TEST(OrvCanSimProcess, BadArgumentsAreRefusedWithAReason) {
    const std::vector<std::vector<std::string>> cases = {
        {"--puc", "0"},
        {"--puc", "128"},
        {"--puc", "12,boot=200"},
        {"--puc", "12,mode=sleep"},
        {"--puc", "12,version=31"},
        {"--puc", "12,bogus"},
        {"--puc", "12,status-error=210"},
        {"--puc", "12,status-error=210:0x100"},
        {"--ht", "30,ident=TOOLONGX"},
        {"--gateway", "x"},
        {"--gateway", "0:70000"},
        {"--gateway", "100"},
        {"--loss", "1.5"},
        {"--bind", "localhost", "--gateway", "0:0"},
        {"--scenario", "/nonexistent/scenario.json"},
        {"--nonsense"},
    };
    for (const std::vector<std::string>& args : cases) {
        const orv::test::ToolResult result = RunSim(args);
        EXPECT_NE(result.exitCode, 0) << args.back();
        EXPECT_FALSE(result.err.empty()) << args.back();
        EXPECT_THAT(result.out, ::testing::Not(HasSubstr("READY"))) << args.back();
    }
}

TEST(OrvCanSimProcess, APortInUseIsReportedAndEndsTheRun) {
    orv::test::SimProcess first({"--gateway", "0:0"});
    const orv::test::ToolResult second =
        RunSim({"--gateway", "0:" + std::to_string(first.GatewayPort(0))});
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_THAT(second.err, HasSubstr("cannot listen"));
}

TEST(OrvCanSimProcess, AScenarioFileGivesBoardsFrontEndsAndFaults) {
    orv::test::TempDir dir;
    const std::string trace = dir.File("bus.log");
    orv::test::WriteFile(dir.File("scenario.json"), R"({
        "puc": [{"id": 12, "boot": 20, "mode": "boot", "version": "2A07", "hwid": "0x33",
                 "status-error": ["207:0x85"]},
                "40,mode=boot,silent"],
        "gateway": ["0:0"],
        "seed": 5,
        "trace": ")" + trace + R"("
    })");
    orv::test::SimProcess sim({"--scenario", dir.File("scenario.json")});
    TcpClient client(sim.GatewayPort(0));
    CCcbMessage reply;
    ASSERT_TRUE(
        GatewayExchange(client, GatewayRequest(CCB_CMD_CONFIGURE, BootInitPayload(20)), reply));
    ASSERT_TRUE(GatewayExchange(client, GatewayRequest(CCB_CMD_GET_INFO), reply));
    ASSERT_EQ(reply.status, CCB_STATUS_OK);
    EXPECT_THAT(std::vector<uint8_t>(reply.data, reply.data + 8),
                ::testing::ElementsAre(0, '2', 'A', '0', '7', 0, 0, 0x33));
    ASSERT_TRUE(GatewayExchange(client, GatewayRequest(CCB_CMD_GET_STATUS), reply));
    EXPECT_EQ(reply.data[0], 0x85);
    ASSERT_TRUE(
        GatewayExchange(client, GatewayRequest(CCB_CMD_CONFIGURE, BootInitPayload(40)), reply));
    ASSERT_TRUE(GatewayExchange(client, GatewayRequest(CCB_CMD_GET_INFO), reply));
    EXPECT_EQ(reply.status, CCB_STATUS_NO_REPLY) << "board 40 is silent";
    EXPECT_THAT(sim.Log(), HasSubstr("seed 5"));
    EXPECT_THAT(orv::test::ReadFile(trace), HasSubstr(" can0 214#7000000000000000\n"));
}

TEST(OrvCanSimProcess, TheCommandLineOverridesTheScenario) {
    orv::test::TempDir dir;
    orv::test::WriteFile(dir.File("scenario.json"),
                         R"({"puc": ["12,mode=boot"], "gateway": "0:0", "seed": 5})");
    orv::test::SimProcess sim({"--scenario", dir.File("scenario.json"), "--seed", "9"});
    EXPECT_THAT(sim.Log(), HasSubstr("seed 9"));
    const orv::test::ToolResult unknown = RunSim({"--scenario", dir.File("bad.json")});
    EXPECT_NE(unknown.exitCode, 0);
    orv::test::WriteFile(dir.File("bad.json"), R"({"pucs": ["12"]})");
    EXPECT_NE(RunSim({"--scenario", dir.File("bad.json")}).exitCode, 0) << "unknown key";
    orv::test::WriteFile(dir.File("bad.json"), R"(["--puc", "12"])");
    EXPECT_NE(RunSim({"--scenario", dir.File("bad.json")}).exitCode, 0) << "not an object";
}

}  // namespace
}  // namespace orv::sim::test
