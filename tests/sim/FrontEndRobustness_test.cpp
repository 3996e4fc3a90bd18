#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <thread>

#include "TcpClient.h"
#include "sim/GatewayServer.h"
#include "sim/SocketcandBridge.h"
#include "support/SimProcess.h"
#include "transport/GatewayCodes.h"

namespace orv::sim::test {
namespace {

std::string Words(std::initializer_list<uint32_t> words) {
    std::string bytes(words.size() * 4, '\0');
    std::memcpy(bytes.data(), std::data(words), bytes.size());
    return bytes;
}

// The gateway still answers a fresh client (a reserved code: answered without bus traffic).
bool GatewayServes(int port) {
    TcpClient client(port);
    CCcbMessage reply;
    return GatewayExchange(client, GatewayRequest(CCB_CMD_RESERVED_216), reply) &&
           reply.status == CCB_STATUS_NOT_EXECUTED;
}

class GatewayRobustness : public testing::Test {
  protected:
    orv::test::SimProcess sim_{{"--gateway", "0:0", "--close-after", "3"}};
    int port_ = sim_.GatewayPort(0);
};

TEST_F(GatewayRobustness, MalformedRequestsCloseTheirConnectionOnly) {
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"a count above the largest message", Words({4017, CCB_CMD_GET_STATUS})},
        {"a count of four billion", Words({0xFFFFFFFF, 0})},
        {"a count below the smallest request", Words({7, 0})},
        {"a count of zero", Words({0})},
        {"a data length that disagrees with the count", Words({16, CCB_CMD_GET_STATUS, 0, 10})},
        {"a message shorter than its header", Words({12, CCB_CMD_GET_STATUS, 0})},
        {"a request cut off by the client", Words({267, CCB_CMD_OPEN, 0})},
    };
    for (const auto& [what, bytes] : cases) {
        auto client = std::make_unique<TcpClient>(port_);
        ASSERT_TRUE(client->Send(bytes));
        if (std::string(what).find("cut off") != std::string::npos) {
            client.reset();
        } else {
            EXPECT_TRUE(client->ClosedByPeer(5000)) << what;
        }
        EXPECT_TRUE(GatewayServes(port_)) << what;
    }
    EXPECT_THAT(sim_.Log(), testing::HasSubstr("refused; connection closed"));
}

TEST_F(GatewayRobustness, AClientStuckInTheMiddleOfARequestHoldsUpNoOtherClient) {
    TcpClient stuck(port_);
    ASSERT_TRUE(stuck.Send(Words({2075, CCB_CMD_WRITE_SUBBLOCK, 0})));
    EXPECT_TRUE(GatewayServes(port_));
}

TEST_F(GatewayRobustness, TheGatewayClosesAConnectionAfterTheRequestsTheScenarioAllows) {
    TcpClient client(port_);
    CCcbMessage reply;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(GatewayExchange(client, GatewayRequest(CCB_CMD_RESERVED_214), reply)) << i;
        EXPECT_EQ(reply.status, CCB_STATUS_NOT_EXECUTED);
    }
    EXPECT_FALSE(GatewayExchange(client, GatewayRequest(CCB_CMD_RESERVED_214), reply));
    EXPECT_THAT(sim_.Log(), testing::HasSubstr("closing after 3 requests"));
}

TEST_F(GatewayRobustness, ConnectionsBeyondTheLimitAreClosedAtOnce) {
    std::vector<std::unique_ptr<TcpClient>> held;
    for (size_t i = 0; i < GatewayServer::kMaxConnections; ++i) {
        held.push_back(std::make_unique<TcpClient>(port_));
        ASSERT_TRUE(held.back()->Send(Words({16, CCB_CMD_RESERVED_211, 0, 0})));
        char reply[16];
        ASSERT_TRUE(held.back()->Read(reply, sizeof reply, 5000)) << "connection " << i;
    }
    TcpClient extra(port_);
    EXPECT_TRUE(extra.ClosedByPeer(5000));
    held.clear();
    bool served = false;
    for (int attempt = 0; attempt < 100 && !served; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        served = GatewayServes(port_);
    }
    EXPECT_TRUE(served) << "room again once the others left";
}

TEST(BridgeRobustness, GarbageAndFloodsNeitherCrashNorStallOtherClients) {
    orv::test::SimProcess sim({"--bridge", "0"});
    TcpClient watcher(sim.BridgePort());
    watcher.Send("< open can0 >< rawmode >");
    EXPECT_EQ(watcher.ReadAll(200), "< hi >< ok >< ok >");

    std::mt19937 random(11);
    std::string noise(256 * 1024, '\0');
    for (char& c : noise) {
        c = static_cast<char>(random());
    }
    std::vector<std::string> floods = {
        noise,
        "<" + std::string(100000, 'x'),
        std::string(100000, '>'),
        "< open can0 >< rawmode >" + std::string(2000, '<') + "< send 123 0 >",
    };
    for (const std::string& flood : floods) {
        TcpClient hostile(sim.BridgePort());
        hostile.Send(flood);
        watcher.Send("< send 321 1 5 >");
        TcpClient other(sim.BridgePort());
        other.Send("< open can0 >< rawmode >< send 456 1 6 >");
        EXPECT_THAT(watcher.ReadAll(300), testing::HasSubstr("< frame 456 "));
    }
    EXPECT_GT(sim.Stop(SIGTERM), -1);
}

}  // namespace
}  // namespace orv::sim::test
