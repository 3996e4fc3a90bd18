// OrvCanSim as a process: its command line, scenarios, signals, and its front ends against
// clients that misbehave.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "SimTestKit.h"
#include "sim/GatewayServer.h"
#include "sim/SocketcandBridge.h"
#include "support/SimProcess.h"
#include "support/TestFiles.h"
#include "support/ToolRun.h"
#include "transport/GatewayCodes.h"

namespace orv::sim::test {
namespace {

using orv::test::SimProcess;
using ::testing::HasSubstr;

std::string Words(std::initializer_list<uint32_t> words) {
    return std::string(reinterpret_cast<const char*>(std::data(words)), words.size() * 4);
}

// The gateway still answers a fresh client (a reserved code: answered without bus traffic).
bool GatewayServes(int port) {
    TcpClient client(port);
    return Command(client, CCB_CMD_RESERVED_216) == CCB_STATUS_NOT_EXECUTED;
}

TEST(OrvCanSimProcess, SigintAndSigtermEndItCleanlyEvenInTheMiddleOfACommand) {
    SimProcess idle({"--puc", "12", "--gateway", "0:0"});
    EXPECT_EQ(idle.Stop(SIGINT), 0);
    EXPECT_THAT(idle.Log(), testing::AllOf(HasSubstr("SIGINT"), HasSubstr("ended")));
    SimProcess sim({"--gateway", "0:0"});
    TcpClient client(sim.GatewayPort(0));
    // A status poll of a node that is not there waits seconds for its answer.
    ASSERT_TRUE(client.Send(Words({16, CCB_CMD_GET_STATUS, 0, 0})));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(sim.Stop(SIGTERM), 0);
    EXPECT_THAT(sim.Log(), testing::AllOf(HasSubstr("SIGTERM"), HasSubstr("still busy")));
}

TEST(OrvCanSimProcess, BadArgumentsAreRefusedWithAReason) {
    orv::test::TempDir dir;
    orv::test::WriteFile(dir.File("key.json"), R"({"pucs": ["12"]})");
    orv::test::WriteFile(dir.File("list.json"), R"(["--puc", "12"])");
    SimProcess first({"--gateway", "0:0"});
    for (const std::string& line : std::vector<std::string>{
             "--puc 128", "--puc 12,mode=sleep", "--puc 12,version=31", "--puc 12,bogus",
             "--puc 12,status-error=210", "--ht 30,ident=TOOLONGX", "--gateway x",
             "--gateway 0:70000", "--loss 1.5", "--idle-timeout 0",
             "--bind localhost --gateway 0:0", "--nonsense", "--scenario " + dir.File("none.json"),
             "--scenario " + dir.File("key.json"), "--scenario " + dir.File("list.json"),
             "--gateway 0:" + std::to_string(first.GatewayPort(0))}) {
        std::istringstream in(line);
        const orv::test::ToolResult result =
            orv::test::RunTool({std::istream_iterator<std::string>(in), {}},
                               {.timeoutMs = 10000, .program = ORV_CAN_SIM_BIN});
        EXPECT_NE(result.exitCode, 0) << line;
        EXPECT_NE(result.err, "") << line;
        EXPECT_THAT(result.out, ::testing::Not(HasSubstr("READY"))) << line;
    }
}

TEST(OrvCanSimProcess, AScenarioFileGivesBoardsFrontEndsAndFaultsAndTheCommandLineWins) {
    orv::test::TempDir dir;
    const std::string trace = dir.File("bus.log");
    orv::test::WriteFile(dir.File("scenario.json"), R"({
        "puc": [{"id": 12, "boot": 20, "mode": "boot", "version": "2A07", "hwid": "0x33",
                 "status-error": ["207:0x85"]},
                "40,mode=boot,silent"],
        "gateway": ["0:0"], "seed": 5, "trace": ")" + trace +
                                                        R"("})");
    SimProcess sim({"--scenario", dir.File("scenario.json"), "--seed", "9"});
    TcpClient client(sim.GatewayPort(0));
    Bytes info, status;
    EXPECT_EQ(Command(client, CCB_CMD_CONFIGURE, BootInit(20)), CCB_STATUS_OK);
    EXPECT_EQ(Command(client, CCB_CMD_GET_INFO, {}, &info), CCB_STATUS_OK);
    EXPECT_EQ(info, (Bytes{0, '2', 'A', '0', '7', 0, 0, 0x33}));
    EXPECT_EQ(Command(client, CCB_CMD_GET_STATUS, {}, &status), CCB_STATUS_OK);
    EXPECT_EQ(status.at(0), 0x85);
    EXPECT_EQ(Command(client, CCB_CMD_CONFIGURE, BootInit(40)), CCB_STATUS_OK);
    EXPECT_EQ(Command(client, CCB_CMD_GET_INFO), CCB_STATUS_NO_REPLY) << "board 40 is silent";
    EXPECT_THAT(sim.Log(), HasSubstr("seed 9"));
    EXPECT_THAT(orv::test::ReadFile(trace), HasSubstr(" can0 214#7000000000000000\n"));
}

// Idle clients and one that sends its request a byte at a time hold no room a working client
// needs: a new connection closes the one idle longest, an idle one goes after the idle time,
// and a request must be whole within the request time of its first byte. Malformed requests
// close their own connection only.
TEST(GatewayRobustness, BadIdleAndTricklingClientsGiveWayToWorkingOnes) {
    SimProcess sim({"--gateway", "0:0", "--bridge", "0", "--idle-timeout", "2000",
                    "--request-timeout", "200"});
    const int port = sim.GatewayPort(0);
    TcpClient trickling(port);
    for (const char byte : Words({16, CCB_CMD_GET_INFO, 0, 0})) {
        trickling.Send(std::string(1, byte));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(trickling.ReadAll(5000), "");
    EXPECT_TRUE(trickling.closed);
    for (const std::string& bytes :
         {Words({4017, CCB_CMD_GET_STATUS}),  // above the largest message
          Words({0xFFFFFFFF, 0}), Words({7, 0}), Words({0}),
          Words({16, CCB_CMD_GET_STATUS, 0, 10}),  // a data length that disagrees with the count
          Words({12, CCB_CMD_GET_STATUS, 0})}) {   // shorter than its header
        TcpClient client(port);
        ASSERT_TRUE(client.Send(bytes));
        client.ReadAll(5000);
        EXPECT_TRUE(client.closed) << bytes.size();
    }
    EXPECT_THAT(sim.Log(), HasSubstr("refused; connection closed"));
    std::vector<std::unique_ptr<TcpClient>> idle;
    for (const auto& [at, slots] : {std::pair{port, GatewayServer::kMaxConnections},
                                    {sim.BridgePort(), SocketcandBridge::kMaxClients}}) {
        for (size_t i = 0; i < slots + 4; ++i)
            idle.push_back(std::make_unique<TcpClient>(at));
    }
    EXPECT_TRUE(GatewayServes(port));
    EXPECT_EQ(TcpClient(sim.BridgePort()).ReadAll(300), "< hi >");
    for (size_t i = 0; i < idle.size(); ++i) {
        idle[i]->ReadAll(5000);
        ASSERT_TRUE(idle[i]->closed) << i;
    }
}

TEST(SocketcandBridge, BadCommandsGetAnErrorGarbageIsSkippedAndOtherClientsStayServed) {
    SimProcess sim({"--bridge", "0"});
    TcpClient client(sim.BridgePort()), listener(sim.BridgePort());
    client.Send(
        "< send 123 1 11 >< rawmode >< open can7 >< bogus >< echo >< open can0 >< open can0 >"
        "< rawmode >< send 800 0 >< send 12 3 1 2 >< send 12 9 1 2 3 4 5 6 7 8 9 >"
        "< send 12 1 100 >< send xyz 0 >< send >");
    EXPECT_EQ(client.ReadAll(300),
              "< hi >< error not in raw mode >< error open a channel first >"
              "< error could not open bus >< error unknown command >< echo >< ok >"
              "< error channel already open >< ok >< error only 11-bit identifiers are carried >"
              "< error the length does not match the data bytes >"
              "< error the length does not match the data bytes >< error bad data byte '100' >"
              "< error send wants an identifier, a length and the data bytes >"
              "< error send wants an identifier, a length and the data bytes >");
    listener.Send("< open can0 >< rawmode >");
    EXPECT_EQ(listener.ReadAll(300), "< hi >< ok >< ok >");
    std::mt19937 random(11);
    std::string noise(256 * 1024, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    std::vector<std::unique_ptr<TcpClient>> hostile;  // connected while the others are served
    for (const std::string& flood :
         {noise, "<" + std::string(100000, 'x'), std::string(100000, '>'),
          "< open can0 >< rawmode >" + std::string(2000, '<')}) {
        hostile.push_back(std::make_unique<TcpClient>(sim.BridgePort()));
        hostile.back()->Send(flood);
    }
    // Messages may come back to back, digits in either case.
    client.Send("<send 7ff 0><send 001 2 a B>< send 12 1 aa >");
    const std::string heard = listener.ReadAll(300);
    EXPECT_TRUE(std::regex_match(
        heard, std::regex(R"(\n< frame 7FF \d+\.\d{6}  >\n< frame 001 \d+\.\d{6} 0A0B >)"
                          R"(\n< frame 012 \d+\.\d{6} AA >)")))
        << heard;
    EXPECT_EQ(sim.Stop(SIGTERM), 0);
}

}  // namespace
}  // namespace orv::sim::test
