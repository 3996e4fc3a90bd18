#include "transport/TcpCommAdapter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace {

using testing::_;
using testing::Return;

// Records each request and answers with a scripted reply and result.
class ScriptedSocket : public CTcpSocket {
  public:
    MOCK_METHOD(int, SendReceive,
                (uint32_t count, const void* request, int* replyLength, void* reply,
                 uint32_t timeoutMs, void* guard),
                (override));

    // Every exchange stores `reply` (up to the capacity) and returns `result`.
    void Answer(std::vector<uint8_t> reply, int result = 0) {
        EXPECT_CALL(*this, SendReceive(_, _, _, _, _, _))
            .WillRepeatedly([this, reply, result](uint32_t count, const void* request,
                                                  int* replyLength, void* replyBuffer,
                                                  uint32_t timeoutMs, void* guard) {
                const auto* bytes = static_cast<const uint8_t*>(request);
                sent.assign(bytes, bytes + count);
                capacity = *replyLength;
                timeout = timeoutMs;
                guardSeen = guard;
                const int stored = std::min<int>(*replyLength, static_cast<int>(reply.size()));
                std::memcpy(replyBuffer, reply.data(), static_cast<size_t>(stored));
                *replyLength = stored;
                return result;
            });
    }

    std::vector<uint8_t> sent;
    int capacity = -1;
    uint32_t timeout = 0;
    void* guardSeen = this;
};

std::vector<uint8_t> Words(const std::vector<uint32_t>& words) {
    std::vector<uint8_t> bytes;
    for (uint32_t word : words) {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<uint8_t>(word >> (8 * i)));
    }
    return bytes;
}

struct ShortExchangeCase {
    const char* name;
    std::vector<uint8_t> reply;
    int socketResult;
    int expected;
};

class TcpCommAdapterShortExchange : public testing::Test {
  protected:
    testing::StrictMock<ScriptedSocket> socket_;
    CTcpCommAdapter adapter_{&socket_};
};

TEST_F(TcpCommAdapterShortExchange, OpenSendsItsFixedRequestAndPassesOnlyAGatewayResult) {
    std::vector<uint8_t> eleven = Words({12, 100, 0});
    eleven.pop_back();
    const std::vector<ShortExchangeCase> cases = {
        {"success", Words({12, 100, 0}), 0, 0},
        {"gateway result passed through", Words({12, 100, 5}), 0, 5},
        {"eleven bytes", eleven, 0, 0},
        {"echo of another code", Words({12, 108, 5}), 0, 0},
        {"exchange failed", Words({12, 100, 5}), 2, 0},
    };
    for (const ShortExchangeCase& c : cases) {
        SCOPED_TRACE(c.name);
        socket_.Answer(c.reply, c.socketResult);
        EXPECT_EQ(adapter_.Open(0x2A), c.expected);
        ASSERT_EQ(socket_.sent.size(), 267u);
        std::vector<uint8_t> expected(267, 0);
        const std::vector<uint8_t> head = Words({267, CCB_CMD_OPEN});
        std::copy(head.begin(), head.end(), expected.begin());
        expected[9] = 0x01;
        expected[10] = 0x01;
        expected[11] = 0x2A;
        EXPECT_EQ(socket_.sent, expected);
        EXPECT_EQ(socket_.capacity, 12);
        EXPECT_EQ(socket_.timeout, 10000u);
        EXPECT_EQ(socket_.guardSeen, nullptr);
    }
}

TEST_F(TcpCommAdapterShortExchange, ResetSendsEightBytesAndWantsItsOwnCodeEchoed) {
    const std::vector<ShortExchangeCase> cases = {
        {"success", Words({12, 108, 0}), 0, 0},
        {"gateway result passed through", Words({12, 108, 7}), 0, 7},
        {"echo of open", Words({12, 100, 7}), 0, 0},
        {"exchange failed", Words({12, 108, 7}), 1, 0},
    };
    for (const ShortExchangeCase& c : cases) {
        SCOPED_TRACE(c.name);
        socket_.Answer(c.reply, c.socketResult);
        EXPECT_EQ(adapter_.Reset(), c.expected);
        EXPECT_EQ(socket_.sent, Words({8, CCB_CMD_RESET}));
        EXPECT_EQ(socket_.capacity, 12);
        EXPECT_EQ(socket_.timeout, 10000u);
    }
}

TEST(TcpCommAdapter, TransactSendsTheMessageByItsLengthAndLeavesTheReplyToTheCaller) {
    testing::StrictMock<ScriptedSocket> socket;
    CTcpCommAdapter adapter(&socket);
    CCcbMessage request;
    std::vector<uint8_t> payload(2059);
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<uint8_t>(i);
    request.SetAll(2059, payload.data(), CCB_CMD_WRITE_SUBBLOCK, 0);

    // A reply with a failing status is still a completed exchange.
    const std::vector<uint8_t> answer = Words({16, CCB_CMD_WRITE_SUBBLOCK, 101, 0});
    for (int socketResult : {0, 1, 2}) {
        SCOPED_TRACE(socketResult);
        socket.Answer(answer, socketResult);
        CCcbMessage reply;
        reply.status = 0xFFFFFFFF;
        EXPECT_EQ(adapter.Transact(&request, &reply, 16, 2000000), socketResult == 0 ? 0 : 1);
        ASSERT_EQ(socket.sent.size(), 2075u);
        EXPECT_TRUE(std::equal(payload.begin(), payload.end(), socket.sent.begin() + 16));
        EXPECT_EQ(socket.capacity, 16);
        EXPECT_EQ(socket.timeout, 2000000u);
        EXPECT_EQ(reply.status, 101u);
    }
}

TEST(TcpCommAdapter, SendRawSendsTheGivenLength) {
    testing::StrictMock<ScriptedSocket> socket;
    CTcpCommAdapter adapter(&socket);
    CanFrameRequest frame;
    frame.nodeId = 9;
    frame.dataLengthCode = 1;
    frame.data[0] = 0xFF;
    uint8_t reply[12] = {};
    socket.Answer(Words({12, CCB_CMD_SEND_FRAME, 100}));
    EXPECT_EQ(adapter.SendRaw(&frame, 44, reply, 12, 200000), 0);
    EXPECT_EQ(socket.sent.size(), 44u);
    EXPECT_EQ(std::memcmp(socket.sent.data(), &frame, 44), 0);
    EXPECT_EQ(reply[8], 100);

    socket.Answer(Words({12, CCB_CMD_SEND_FRAME, 100}), 1);
    EXPECT_EQ(adapter.SendRaw(&frame, 44, reply, 12, 200000), 1);
}

TEST(TcpCommAdapter, RefusesLengthsThatWouldReadPastTheRequest) {
    testing::StrictMock<ScriptedSocket> socket;
    CTcpCommAdapter adapter(&socket);
    CCcbMessage request;
    request.length = sizeof(CCcbMessage) + 1;
    CCcbMessage reply;
    EXPECT_EQ(adapter.Transact(&request, &reply, 16, 20000), 1);
    EXPECT_EQ(adapter.SendRaw(&request, -1, &reply, 16, 20000), 1);
}

}  // namespace
