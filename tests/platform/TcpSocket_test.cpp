#include "platform/TcpSocket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "TcpSocketPeer.h"

namespace {

using orv::test::GatewayReply;
using orv::test::TcpSocketPeer;

constexpr uint8_t kLoopback[4] = {127, 0, 0, 1};

class TcpSocketTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(CTcpSocket::Initialize(), 0);
        socket_.SetParam(kLoopback, peer_.Port(), nullptr);
        ASSERT_EQ(socket_.Connect(), CTcpSocket::kOk);
        ASSERT_TRUE(peer_.Accept());
    }

    // One exchange of a 16-byte request; the reply's bytes as stored.
    int Exchange(std::vector<uint8_t>& reply, uint32_t timeoutMs = 1000) {
        const std::vector<uint8_t> request = GatewayReply({207, 0, 0});
        int length = static_cast<int>(reply.size());
        const int result =
            socket_.SendReceive(static_cast<uint32_t>(request.size()), request.data(), &length,
                                reply.data(), timeoutMs, nullptr);
        reply.resize(result == CTcpSocket::kOk ? static_cast<size_t>(length) : 0);
        return result;
    }

    TcpSocketPeer peer_;
    CTcpSocket socket_;
};

TEST_F(TcpSocketTest, SendsTheRequestWholeAndReturnsTheReply) {
    std::vector<uint8_t> request(2075);
    for (size_t i = 0; i < request.size(); ++i)
        request[i] = static_cast<uint8_t>(i * 7);
    const std::vector<uint8_t> answer = GatewayReply({201, 100, 0});
    peer_.Write(answer);
    std::vector<uint8_t> reply(16);
    int length = 16;
    ASSERT_EQ(socket_.SendReceive(2075, request.data(), &length, reply.data(), 1000, nullptr),
              CTcpSocket::kOk);
    EXPECT_EQ(length, 16);
    EXPECT_EQ(reply, answer);
    EXPECT_EQ(peer_.Read(request.size()), request);
    EXPECT_TRUE(peer_.Read(1, 0).empty()) << "nothing beyond the request";
}

TEST_F(TcpSocketTest, KeepsAtMostTheCapacityAndStaysInStep) {
    const std::vector<uint8_t> data(8, 0x5A);
    const std::vector<uint8_t> longReply = GatewayReply({204, 100, 8}, data);
    const std::vector<uint8_t> nextReply = GatewayReply({207, 100, 0});
    peer_.Write(longReply);
    peer_.Write(nextReply);

    std::vector<uint8_t> reply(20, 0xEE);
    int length = 16;
    const std::vector<uint8_t> request = GatewayReply({204, 0, 0});
    ASSERT_EQ(socket_.SendReceive(16, request.data(), &length, reply.data(), 1000, nullptr),
              CTcpSocket::kOk);
    EXPECT_EQ(length, 16);
    EXPECT_TRUE(std::equal(reply.begin(), reply.begin() + 16, longReply.begin()));
    EXPECT_EQ(reply[16], 0xEE) << "nothing lands beyond the capacity";

    std::vector<uint8_t> second(24);
    ASSERT_EQ(Exchange(second), CTcpSocket::kOk);
    EXPECT_EQ(second, nextReply);
}

TEST_F(TcpSocketTest, ByteCountsOutsideTheGatewayRangeCloseTheConnection) {
    struct Case {
        uint32_t count;
        bool accepted;
    };
    for (const Case& c : {Case{11, false}, Case{12, true}, Case{4016, true}, Case{4017, false},
                          Case{0, false}, Case{0xFFFFFFFF, false}}) {
        SCOPED_TRACE(c.count);
        socket_.SetParam(kLoopback, peer_.Port(), nullptr);
        ASSERT_EQ(socket_.Connect(), CTcpSocket::kOk);
        ASSERT_TRUE(peer_.Accept());
        std::vector<uint8_t> bytes = GatewayReply({207, 100});
        std::memcpy(bytes.data(), &c.count, 4);
        if (c.count >= 12 && c.count <= 4016)
            bytes.resize(c.count);
        peer_.Write(bytes);
        std::vector<uint8_t> reply(16);
        if (c.accepted) {
            EXPECT_EQ(Exchange(reply), CTcpSocket::kOk);
            EXPECT_EQ(reply.size(), std::min<size_t>(16, c.count));
        } else {
            EXPECT_EQ(Exchange(reply), CTcpSocket::kFailed);
            EXPECT_TRUE(peer_.ClientClosed());
        }
    }
}

TEST_F(TcpSocketTest, APeerThatClosesFailsThisAndEveryLaterExchange) {
    peer_.CloseConnection();
    std::vector<uint8_t> reply(16);
    EXPECT_EQ(Exchange(reply), CTcpSocket::kFailed);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Exchange(reply, 5000), CTcpSocket::kFailed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
}

TEST_F(TcpSocketTest, APeerThatClosesInsideAReplyFails) {
    std::vector<uint8_t> cut = GatewayReply({204, 100, 8}, std::vector<uint8_t>(8));
    cut.resize(10);
    peer_.Write(cut);
    peer_.CloseConnection();
    std::vector<uint8_t> reply(24);
    EXPECT_EQ(Exchange(reply), CTcpSocket::kFailed);
}

TEST_F(TcpSocketTest, AReplyAfterItsTimeOutIsNeverTakenForALaterOne) {
    std::vector<uint8_t> reply(16);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Exchange(reply, 2), CTcpSocket::kTimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(CTcpSocket::kMinReplyWaitMs));

    peer_.Write(GatewayReply({218, 100, 0}));
    const std::vector<uint8_t> answer = GatewayReply({208, 101, 0});
    peer_.Write(answer);
    reply.resize(16);
    ASSERT_EQ(Exchange(reply), CTcpSocket::kOk);
    EXPECT_EQ(reply, answer);
}

TEST_F(TcpSocketTest, ALateReplyCutInTwoIsDroppedWhole) {
    const std::vector<uint8_t> late = GatewayReply({204, 100, 8}, std::vector<uint8_t>(8, 1));
    peer_.Write({late.begin(), late.begin() + 6});
    std::vector<uint8_t> reply(24);
    EXPECT_EQ(Exchange(reply, 2), CTcpSocket::kTimedOut);

    peer_.Write({late.begin() + 6, late.end()});
    const std::vector<uint8_t> answer = GatewayReply({205, 100, 0});
    peer_.Write(answer);
    reply.resize(24);
    ASSERT_EQ(Exchange(reply), CTcpSocket::kOk);
    EXPECT_EQ(reply, answer);
}

TEST_F(TcpSocketTest, ALateReplyThatNeverComesEndsTheConnection) {
    std::vector<uint8_t> reply(16);
    EXPECT_EQ(Exchange(reply, 2), CTcpSocket::kTimedOut);
    peer_.Read(16);
    EXPECT_EQ(Exchange(reply), CTcpSocket::kFailed);
    EXPECT_TRUE(peer_.Read(16, 0).empty()) << "the next request must not go out";
    EXPECT_TRUE(peer_.ClientClosed());
}

TEST(TcpSocketConnect, FailsAtOnceWhenNothingListens) {
    int port = 0;
    {
        TcpSocketPeer closed;
        port = closed.Port();
    }
    CTcpSocket socket;
    socket.SetParam(kLoopback, port, nullptr);
    EXPECT_EQ(socket.Connect(), CTcpSocket::kFailed);
    std::vector<uint8_t> reply(16);
    int length = 16;
    EXPECT_EQ(socket.SendReceive(16, reply.data(), &length, reply.data(), 1000, nullptr),
              CTcpSocket::kFailed);
}

TEST(TcpSocketConnect, GivesUpOnAListenerThatNeverAnswers) {
    // A full accept queue makes the kernel drop further connection attempts unanswered.
    TcpSocketPeer busy(0);
    std::vector<std::unique_ptr<CTcpSocket>> queued;
    for (int i = 0; i < 4; ++i) {
        queued.push_back(std::make_unique<CTcpSocket>());
        queued.back()->SetParam(kLoopback, busy.Port(), nullptr);
        const auto start = std::chrono::steady_clock::now();
        const int result = queued.back()->Connect();
        const auto took = std::chrono::steady_clock::now() - start;
        if (result != CTcpSocket::kOk) {
            EXPECT_GE(took, std::chrono::milliseconds(CTcpSocket::kConnectTimeoutMs - 100));
            EXPECT_LT(took, std::chrono::milliseconds(CTcpSocket::kConnectTimeoutMs + 1000));
            return;
        }
    }
    GTEST_SKIP() << "this kernel accepts beyond the listen backlog";
}

}  // namespace
