// The gateway transport: its socket, which frames the byte stream into replies, and the adapter
// over it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <future>
#include <vector>

#include "os/Console.h"
#include "support/TcpSocketPeer.h"
#include "transport/GatewayCodes.h"
#include "transport/TcpCommAdapter.h"
#include "transport/TcpSocket.h"

namespace orv {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t kLoopback[4] = {127, 0, 0, 1};

// Little-endian words, as the gateway sends them.
Bytes Words(const std::vector<uint32_t>& words) {
    Bytes bytes;
    for (uint32_t word : words)
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<uint8_t>(word >> (8 * i)));
    return bytes;
}

// A gateway reply: its byte count, then the words.
Bytes Reply(std::vector<uint32_t> words) {
    words.insert(words.begin(), static_cast<uint32_t>(4 * (words.size() + 1)));
    return Words(words);
}

class TcpSocketTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(CTcpSocket::Initialize(), 0);
        Reconnect();
    }
    void Reconnect() {
        socket_.SetParam(kLoopback, peer_.Port(), nullptr);
        ASSERT_EQ(socket_.Connect(), CTcpSocket::kOk);
        ASSERT_TRUE(peer_.Accept());
    }
    // An 8-byte request; the reply's size is its room, then what was stored (none on failure).
    int Exchange(Bytes& reply, uint32_t timeoutMs = 1000) {
        int length = static_cast<int>(reply.size());
        const Bytes request = Reply({207});
        const int result =
            socket_.SendReceive(8, request.data(), &length, reply.data(), timeoutMs, nullptr);
        reply.resize(result == CTcpSocket::kOk ? static_cast<size_t>(length) : 0);
        return result;
    }

    // The gateway's side: each reply goes out once a request came in.
    std::future<void> Answer(std::vector<Bytes> replies) {
        return std::async(std::launch::async, [this, replies] {
            for (const Bytes& reply : replies) {
                ASSERT_EQ(peer_.Read(8).size(), 8u);
                peer_.Write(reply);
            }
        });
    }

    test::TcpSocketPeer peer_;
    CTcpSocket socket_;
};

// A count that covers itself and the echoed command is a reply, however short. The buffer is
// cleared up to its capacity; of a long reply the rest is read and dropped.
TEST_F(TcpSocketTest, ByteCountsOutsideTheGatewayRangeCloseTheConnection) {
    ConsoleCapture capture;
    const Bytes next = Reply({205, 100, 0});
    for (uint32_t count : {7u, 11u, 4016u, 4017u}) {
        SCOPED_TRACE(count);
        Reconnect();
        const bool accepted = count >= 8 && count <= 4016;
        Bytes bytes = Reply({208, 100});
        std::memcpy(bytes.data(), &count, 4);
        bytes.resize(accepted ? count : 8);
        const auto gateway =
            Answer(accepted ? std::vector<Bytes>{bytes, next} : std::vector<Bytes>{bytes});
        Bytes reply(20, 0xEE);
        int length = 16;
        EXPECT_EQ(socket_.SendReceive(8, next.data(), &length, reply.data(), 1000, nullptr),
                  accepted ? CTcpSocket::kOk : CTcpSocket::kFailed);
        if (!accepted) {
            EXPECT_TRUE(peer_.ClientClosed());
            continue;
        }
        Bytes expected(bytes.begin(), bytes.begin() + std::min<int>(16, int(count)));
        EXPECT_EQ(length, int(expected.size()));
        expected.resize(16, 0);
        expected.resize(20, 0xEE);
        EXPECT_EQ(reply, expected);
        reply.assign(16, 0);
        ASSERT_EQ(Exchange(reply), CTcpSocket::kOk);
        EXPECT_EQ(reply, next);
    }
    EXPECT_EQ(capture.ErrorText(), "") << "a closed connection keeps no bytes";
}

// The protocol allows 2 ms for some requests: a reply that comes later, even cut in two, must
// be dropped rather than taken for the answer to the next request; one that never comes ends
// the connection before the next request goes out.
TEST_F(TcpSocketTest, AReplyAfterItsTimeOutIsNeverTakenForALaterOne) {
    const Bytes late = Reply({204, 100, 8, 0x01010101, 0x01010101});
    auto gateway = Answer({{late.begin(), late.begin() + 6}});
    Bytes reply(24);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Exchange(reply, 2), CTcpSocket::kTimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(CTcpSocket::kMinReplyWaitMs));
    gateway.get();
    peer_.Write({late.begin() + 6, late.end()});
    const auto next = Answer({Reply({205, 100, 0})});
    reply.resize(24);
    ASSERT_EQ(Exchange(reply), CTcpSocket::kOk);
    EXPECT_EQ(reply, Reply({205, 100, 0}));

    EXPECT_EQ(Exchange(reply, 2), CTcpSocket::kTimedOut);
    peer_.Read(8);
    reply.resize(16);
    EXPECT_EQ(Exchange(reply), CTcpSocket::kFailed);
    EXPECT_TRUE(peer_.Read(16, 0).empty()) << "the next request must not go out";
    EXPECT_TRUE(peer_.ClientClosed());
}

class TcpCommAdapterTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(adapter_.Connect(kLoopback, peer_.Port()), CTcpCommAdapter::Connection::Ready);
        ASSERT_TRUE(peer_.Accept());
    }
    // The gateway's side of one exchange: reads the request, then answers with reply.
    std::future<Bytes> Answer(size_t requestBytes, Bytes reply) {
        return std::async(std::launch::async, [this, requestBytes, reply] {
            Bytes request = peer_.Read(requestBytes);
            peer_.Write(reply);
            return request;
        });
    }

    test::TcpSocketPeer peer_;
    CTcpCommAdapter adapter_;
};

// Open and Reset pass on the result of a whole reply that echoes their command; a short reply
// or another command reads as success.
TEST_F(TcpCommAdapterTest, OpenAndResetPassOnOnlyAWholeEchoedResult) {
    const struct {
        bool reset;
        Bytes reply;
        int expected;
    } cases[] = {
        {false, Reply({CCB_CMD_OPEN, 5}), 5},
        {false, Bytes{11, 0, 0, 0, CCB_CMD_OPEN, 0, 0, 0, 5, 0, 0}, 0},
        {true, Reply({CCB_CMD_RESET, 7}), 7},
        {true, Reply({CCB_CMD_OPEN, 7}), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << (c.reset ? "Reset" : "Open") << " reply of " << c.reply.size() << " bytes");
        const uint32_t requestBytes =
            c.reset ? CTcpCommAdapter::kResetRequestBytes : CTcpCommAdapter::kOpenRequestBytes;
        auto gateway = Answer(requestBytes, c.reply);
        EXPECT_EQ(c.reset ? adapter_.Reset() : adapter_.Open(42), c.expected);
        const Bytes request = gateway.get();
        ASSERT_EQ(request.size(), requestBytes);
        const Bytes head(request.begin(), request.begin() + 8);
        EXPECT_EQ(head, Words({requestBytes, c.reset ? CCB_CMD_RESET : CCB_CMD_OPEN}));
        if (!c.reset) {
            EXPECT_EQ(Bytes(request.begin() + 8, request.begin() + 12), (Bytes{0, 1, 1, 42}));
            EXPECT_EQ(std::count(request.begin() + 12, request.end(), 0), 255);
        }
    }
}

}  // namespace
}  // namespace orv
