#include "transport/TcpCommAdapter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <vector>

#include "support/TcpSocketPeer.h"
#include "transport/GatewayCodes.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Records each exchange and answers every one with the same reply and result.
struct ScriptedSocket : CTcpSocket {
    Bytes reply;
    int result = 0;
    Bytes sent;
    int capacity = -1;
    uint32_t timeout = 0;
    void* guard = this;

    int SendReceive(uint32_t count, const void* request, int* replyLength, void* replyBuffer,
                    uint32_t timeoutMs, void* guardSeen) override {
        sent.assign(static_cast<const uint8_t*>(request),
                    static_cast<const uint8_t*>(request) + count);
        capacity = *replyLength;
        timeout = timeoutMs;
        guard = guardSeen;
        *replyLength = std::min<int>(*replyLength, static_cast<int>(reply.size()));
        std::memcpy(replyBuffer, reply.data(), static_cast<size_t>(*replyLength));
        return result;
    }
};

Bytes Words(const std::vector<uint32_t>& words) {
    Bytes bytes;
    for (uint32_t word : words)
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<uint8_t>(word >> (8 * i)));
    return bytes;
}

// Open sends its fixed 267-byte request and Reset 8 bytes, each with a 12-byte reply room and
// 10 s; only a whole reply echoing the request's code passes its result on.
TEST(TcpCommAdapter, OpenAndResetPassOnOnlyAGatewayResult) {
    Bytes openRequest(267, 0);
    std::memcpy(openRequest.data(), Words({267, CCB_CMD_OPEN}).data(), 8);
    std::memcpy(openRequest.data() + 9, "\x01\x01\x2A", 3);
    Bytes eleven = Words({12, 100, 5});
    eleven.pop_back();
    const struct {
        const char* name;
        bool open;
        Bytes reply;
        int socketResult;
        int expected;
    } cases[] = {
        {"open result", true, Words({12, 100, 5}), 0, 5},
        {"open eleven bytes", true, eleven, 0, 0},
        {"open echo of another code", true, Words({12, 108, 5}), 0, 0},
        {"open exchange failed", true, Words({12, 100, 5}), 2, 0},
        {"reset result", false, Words({12, 108, 7}), 0, 7},
    };
    for (const auto& c : cases) {
        ScriptedSocket socket;
        socket.reply = c.reply;
        socket.result = c.socketResult;
        CTcpCommAdapter adapter(&socket);
        EXPECT_EQ(c.open ? adapter.Open(0x2A) : adapter.Reset(), c.expected) << c.name;
        EXPECT_EQ(socket.sent, c.open ? openRequest : Words({8, CCB_CMD_RESET})) << c.name;
        EXPECT_EQ(std::make_tuple(socket.capacity, socket.timeout, socket.guard),
                  std::make_tuple(12, 10000u, nullptr))
            << c.name;
    }
}

// A short reply to Open is a reply: Open returns 0 and the connection serves the next request,
// here jumping to the application.
TEST(TcpCommAdapter, AShortOpenReplyLeavesTheConnectionUsable) {
    orv::test::TcpSocketPeer peer;
    CTcpSocket socket;
    const uint8_t loopback[4] = {127, 0, 0, 1};
    socket.SetParam(loopback, peer.Port(), nullptr);
    ASSERT_EQ(socket.Connect(), 0);
    ASSERT_TRUE(peer.Accept());
    const auto gateway = std::async(std::launch::async, [&] {
        ASSERT_EQ(peer.Read(267).size(), 267u);
        Bytes eleven = Words({11, CCB_CMD_OPEN, 0});
        eleven.pop_back();
        peer.Write(eleven);
        ASSERT_EQ(peer.Read(16).size(), 16u);
        peer.Write(Words({16, CCB_CMD_JUMP_TO_APP, CCB_STATUS_OK, 0}));
    });
    CTcpCommAdapter adapter(&socket);
    EXPECT_EQ(adapter.Open(0x0C), 0);
    CCcbMessage request;
    request.command = CCB_CMD_JUMP_TO_APP;
    CCcbMessage reply;
    ASSERT_EQ(adapter.Transact(&request, &reply, sizeof reply, 20000), 0);
    EXPECT_EQ(reply.command, CCB_CMD_JUMP_TO_APP);
    EXPECT_EQ(reply.status, CCB_STATUS_OK);
}

// Lengths that would read past the request go nowhere.
TEST(TcpCommAdapter, RefusesLengthsThatWouldReadPastTheRequest) {
    ScriptedSocket socket;
    CTcpCommAdapter adapter(&socket);
    CCcbMessage request;
    request.length = sizeof(CCcbMessage) + 1;
    CCcbMessage answer;
    EXPECT_EQ(adapter.Transact(&request, &answer, 16, 20000), 1);
    EXPECT_EQ(adapter.SendRaw(&request, -1, &answer, 16, 20000), 1);
    EXPECT_EQ(socket.capacity, -1) << "no exchange";
}

}  // namespace
