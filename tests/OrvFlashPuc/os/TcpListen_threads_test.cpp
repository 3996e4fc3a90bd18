#include "os/TcpListen.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>

#include "os/SocketWait.h"
#include "os/TcpConnect.h"
#include "os/WakeablePoll.h"

namespace orv {
namespace {

constexpr int kWaitMs = 2000;

// A listener on a free loopback port, a client connected to it and the accepted connection.
class TcpListenTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(StartSockets());
        std::string reason;
        listener_ = ListenTcp("127.0.0.1", port_, reason);
        ASSERT_NE(listener_, kNoSocket) << reason;
        ASSERT_NE(port_, 0);
        client_ = ConnectTcp("127.0.0.1", port_, kWaitMs, reason);
        ASSERT_NE(client_, kNoSocket) << reason;
        WakeablePoll poll;
        ASSERT_EQ(poll.WaitReadable(listener_, kWaitMs), WakeablePoll::Result::Readable);
        bool again = false;
        server_ = AcceptTcp(listener_, peer_, again, reason);
        ASSERT_NE(server_, kNoSocket) << reason;
    }
    void TearDown() override {
        for (SocketHandle socket : {server_, client_, listener_}) {
            if (socket != kNoSocket) {
                CloseSocket(socket);
            }
        }
    }

    uint16_t port_ = 0;
    SocketHandle listener_ = kNoSocket;
    SocketHandle client_ = kNoSocket;
    SocketHandle server_ = kNoSocket;
    std::string peer_;
};

TEST_F(TcpListenTest, AcceptsAndNamesThePeerThenHasNothingMoreToTake) {
    EXPECT_EQ(peer_.rfind("127.0.0.1:", 0), 0u) << peer_;
    std::string peer;
    bool again = false;
    std::string reason;
    EXPECT_EQ(AcceptTcp(listener_, peer, again, reason), kNoSocket);
    EXPECT_TRUE(again) << reason;
}

TEST_F(TcpListenTest, RefusesWhatItCannotListenOn) {
    struct Case {
        const char* address;
        uint16_t port;
    };
    for (const Case& c : {Case{"localhost", 0}, Case{"127.0.0.256", 0}, Case{"127.0.0.1", port_}}) {
        uint16_t port = c.port;
        std::string reason;
        EXPECT_EQ(ListenTcp(c.address, port, reason), kNoSocket) << c.address << ":" << c.port;
        EXPECT_FALSE(reason.empty()) << c.address;
    }
}

// The read of nothing leaves errno at EAGAIN: the peer's end must still read as the end.
TEST_F(TcpListenTest, WaitsForBytesThatPeekingLeavesInPlaceAndTellsTheEnd) {
    EXPECT_EQ(WaitReadable(server_, 20), SocketWait::TimedOut);
    char byte = 0;
    EXPECT_EQ(ReceiveAvailable(server_, &byte, 1), kNothingYet);
    ASSERT_TRUE(SendAll(client_, "x", 1));
    ASSERT_EQ(WaitReadable(server_, kWaitMs), SocketWait::Readable);
    EXPECT_TRUE(BytesWaiting(server_));
    EXPECT_TRUE(BytesWaiting(server_));
    EXPECT_EQ(ReceiveAvailable(server_, &byte, 1), 1);
    EXPECT_EQ(byte, 'x');
    CloseSocket(client_);
    client_ = kNoSocket;
    ASSERT_EQ(WaitReadable(server_, kWaitMs), SocketWait::Readable);
    EXPECT_FALSE(BytesWaiting(server_));
    EXPECT_EQ(ReceiveAvailable(server_, &byte, 1), kEnded);
    EXPECT_FALSE(BytesWaiting(kNoSocket));  // a failing socket, at once
}

// How the simulator ends a connection whose handler waits for the peer's next bytes.
TEST_F(TcpListenTest, ShutdownEndsAWaitForBytesAndTellsThePeer) {
    auto waiting = std::async(std::launch::async, [this] {
        const SocketWait woken = WaitReadable(server_, 4 * kWaitMs);
        char byte;
        return std::pair{woken, ReceiveAvailable(server_, &byte, 1)};
    });
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    ShutdownSocket(server_);
    ASSERT_EQ(waiting.wait_for(std::chrono::milliseconds(kWaitMs)), std::future_status::ready);
    EXPECT_EQ(waiting.get(), std::pair(SocketWait::Readable, kEnded));
    ASSERT_TRUE(SetReceiveLimit(client_, kWaitMs));
    char byte;
    EXPECT_EQ(ReceiveBlocking(client_, &byte, 1), kEnded);
}

}  // namespace
}  // namespace orv
