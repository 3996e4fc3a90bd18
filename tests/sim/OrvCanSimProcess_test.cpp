// OrvCanSim as a process: its command line, signals, and its front ends against clients that
// misbehave.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <sstream>
#include <thread>

#include "os/Clock.h"
#include "sim/GatewayServer.h"
#include "sim/SocketIo.h"
#include "sim/SocketcandBridge.h"
#include "support/HexWriter.h"
#include "support/SimProcess.h"
#include "support/TestFiles.h"
#include "support/ToolRun.h"
#include "transport/CcbMessage.h"
#include "transport/GatewayCodes.h"

namespace orv::sim::test {
namespace {

using orv::test::HexRecord;
using orv::test::SimProcess;
using ::testing::HasSubstr;
using Bytes = std::vector<uint8_t>;

class TcpClient {
  public:
    explicit TcpClient(int port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{
            AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
        if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot connect to port " + std::to_string(port));
    }
    ~TcpClient() { close(fd_); }

    bool Send(const std::string& bytes) { return WriteAll(fd_, bytes.data(), bytes.size()); }
    bool Read(void* bytes, size_t count) {
        return ReadExactlyBefore(fd_, bytes, count, NowMs() + 60000);
    }
    // What arrives until quietMs pass without more (or the peer closes: closed tells).
    std::string ReadAll(int quietMs) {
        std::string text;
        char buffer[4096];
        pollfd ready{fd_, POLLIN, 0};
        ssize_t got = 1;
        while (poll(&ready, 1, quietMs) > 0 && (got = recv(fd_, buffer, sizeof buffer, 0)) > 0)
            text.append(buffer, static_cast<size_t>(got));
        closed = got <= 0;
        return text;
    }
    bool closed = false;

  private:
    int fd_;
};

std::string Words(std::initializer_list<uint32_t> words) {
    return std::string(reinterpret_cast<const char*>(std::data(words)), words.size() * 4);
}

// The reply's status (~0 when it is no reply to the command); data gets the reply data.
uint32_t Command(TcpClient& client, uint32_t command, const Bytes& payload, Bytes& data) {
    CCcbMessage request, reply;
    request.SetAll(static_cast<uint32_t>(payload.size()), payload.data(), command, 0);
    auto* bytes = reinterpret_cast<uint8_t*>(&reply);
    if (!client.Send(std::string(reinterpret_cast<char*>(&request), request.length)) ||
        !client.Read(bytes, 4) || reply.length < 16 || reply.length > sizeof reply ||
        !client.Read(bytes + 4, reply.length - 4) || reply.command != command ||
        reply.length != CCcbMessage::kHeaderSize + reply.dataLength)
        return ~0U;
    data = Bytes(reply.data, reply.data + reply.dataLength);
    return reply.status;
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
    std::vector<std::string> lines;
    std::istringstream rows(
        "--puc 128;--puc 12,mode=sleep;--puc 12,version=31;--puc 12,bogus;--puc 12,hex=none.hex;"
        "--puc 12,status-error=210;--ht 30,ident=TOOLONGX;--gateway x;--gateway 0:70000;"
        "--loss 1.5;--idle-timeout 0;--bind localhost --gateway 0:0;--nonsense;--scenario " +
        dir.File("none.json") + ";--scenario " + dir.File("key.json") + ";--scenario " +
        dir.File("list.json") + ";--gateway 0:" + std::to_string(first.GatewayPort(0)));
    for (std::string row; std::getline(rows, row, ';');)
        lines.push_back(row);
    // A board's flash file: a bad record, an address record unknown, data beyond the flash.
    for (const std::string& hex :
         {std::string(":0100000001FF\n"), HexRecord(0x04, 0, {0x01, 0x00, 0x00}) + "\n",
          orv::test::HexWriter().Bytes(0x1FFFF, {1, 2}).Text()}) {
        lines.push_back("--puc 12,hex=" + dir.File(std::to_string(lines.size()) + ".hex"));
        orv::test::WriteFile(lines.back().substr(13), hex);
    }
    for (const std::string& line : lines) {
        std::istringstream in(line);
        const orv::test::ToolResult result =
            orv::test::RunTool({std::istream_iterator<std::string>(in), {}},
                               {.timeoutMs = 10000, .program = ORV_CAN_SIM_BIN});
        EXPECT_NE(result.exitCode, 0) << line;
        EXPECT_NE(result.err, "") << line;
        EXPECT_THAT(result.out, ::testing::Not(HasSubstr("READY"))) << line;
    }
}

// Idle clients and one that trickles its request hold no room a working client needs: a new
// connection closes the one idle longest, and a request must be whole within the request time.
TEST(OrvCanSimProcess, BadClientsAreRefusedAndGiveWayToWorkingOnes) {
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
          Words({7, 0}), Words({16, CCB_CMD_GET_STATUS, 0, 10})}) {
        TcpClient client(port);
        ASSERT_TRUE(client.Send(bytes));
        client.ReadAll(5000);
        EXPECT_TRUE(client.closed) << bytes.size();
    }
    EXPECT_THAT(sim.Log(), HasSubstr("refused; connection closed"));

    TcpClient client(sim.BridgePort()), listener(sim.BridgePort());
    client.Send(
        "< send 123 1 11 >< open can7 >< bogus >< open can0 >< open can0 >< rawmode >"
        "< send 800 0 >< send 12 3 1 2 >< send 12 1 100 >< send xyz 0 >");
    EXPECT_EQ(client.ReadAll(300),
              "< hi >< error not in raw mode >< error could not open bus >"
              "< error unknown command >< ok >< error channel already open >< ok >"
              "< error only 11-bit identifiers are carried >"
              "< error the length does not match the data bytes >< error bad data byte '100' >"
              "< error send wants an identifier, a length and the data bytes >");
    listener.Send("< open can0 >< rawmode >");
    EXPECT_EQ(listener.ReadAll(300), "< hi >< ok >< ok >");
    TcpClient hostile(sim.BridgePort());  // connected while the others are served
    hostile.Send("< open can0 >< rawmode >" + std::string(100000, '<'));
    // Messages may come back to back, digits in either case.
    client.Send("<send 7ff 0><send 001 2 a B>< send 12 1 aa >");
    const std::string heard = listener.ReadAll(300);
    EXPECT_TRUE(std::regex_match(
        heard, std::regex(R"(\n< frame 7FF \d+\.\d{6}  >\n< frame 001 \d+\.\d{6} 0A0B >)"
                          R"(\n< frame 012 \d+\.\d{6} AA >)")))
        << heard;

    std::vector<std::unique_ptr<TcpClient>> idle;
    for (const auto& [at, slots] : {std::pair{port, GatewayServer::kMaxConnections},
                                    {sim.BridgePort(), SocketcandBridge::kMaxClients}}) {
        for (size_t i = 0; i < slots + 4; ++i)
            idle.push_back(std::make_unique<TcpClient>(at));
    }
    TcpClient fresh(port);
    Bytes data;
    EXPECT_EQ(Command(fresh, CCB_CMD_RESERVED_211, {}, data), CCB_STATUS_NOT_EXECUTED);
    EXPECT_EQ(TcpClient(sim.BridgePort()).ReadAll(300), "< hi >");
    for (size_t i = 0; i < idle.size(); ++i) {
        idle[i]->ReadAll(5000);
        ASSERT_TRUE(idle[i]->closed) << i;
    }
    EXPECT_EQ(sim.Stop(SIGTERM), 0);
}

}  // namespace
}  // namespace orv::sim::test
