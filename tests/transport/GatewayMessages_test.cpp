// The gateway messages as bytes, and the gateway transport's own exchanges around them.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <tuple>
#include <vector>

#include "transport/CcbMessage.h"
#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"
#include "transport/TcpCommAdapter.h"

namespace {

using Bytes = std::vector<uint8_t>;

template <typename Record>
Bytes Head(const Record& record, size_t count = sizeof(Record)) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
    return Bytes(bytes, bytes + count);
}

// Little-endian words, then the bytes; cut to size when one is given.
Bytes Words(const std::vector<uint32_t>& words, Bytes tail = {}, size_t size = 0) {
    Bytes bytes;
    for (uint32_t word : words)
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<uint8_t>(word >> (8 * i)));
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    bytes.resize(size != 0 ? size : bytes.size());
    return bytes;
}

TEST(CcbMessage, WireLayoutAndDefaults) {
    CCcbMessage message;
    const uint8_t payload[] = {0xAA, 0xBB};
    message.SetAll(2, payload, CCB_CMD_READ_CODE, CCB_STATUS_OK);
    EXPECT_EQ(Head(message, 18), Words({18, 204, 100, 2}, {0xAA, 0xBB}));
    message.Clear();
    EXPECT_EQ(Head(message, 16), Words({16, 0, 0, 0}));
    EXPECT_EQ(message.GetData(), nullptr);
    EXPECT_EQ(Head(BootInitParams{}),
              (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF4, 0x01, 0, 0, 0x80, 0x01, 0x00, 0x02}));
    EXPECT_EQ(Head(SubblockDescriptor{}), (Bytes{0, 0, 0, 0, 0, 0, 0, 0xE8, 0x03, 0, 0}));
    EXPECT_EQ(Head(CanFrameRequest{.nodeId = 0x12, .dataLengthCode = 8}),
              Words({44, 109}, {0x12, 0, 0x02, 0x08}, 44));
}

// The data area holds at most 4000 bytes; null data copies nothing but still takes the room,
// except in SetData, where it empties the message.
TEST(CcbMessage, DataOperationsKeepAtMost4000Bytes) {
    Bytes first(5000);
    std::iota(first.begin(), first.end(), 1);
    CCcbMessage m;
    m.SetAll(5000, first.data(), CCB_CMD_BOOT_INIT, 7);
    EXPECT_EQ(Head(m.data, 4000), Bytes(first.begin(), first.begin() + 4000));
    EXPECT_EQ(m.GetLength(), 4016u);
    m.SetData(nullptr, 20);
    EXPECT_EQ(m.GetData(), nullptr);
    m.SetData(first.data() + 100, 3000);
    m.AppendData(first.data(), 2048);
    EXPECT_EQ(m.dataLength, 4000u);
    EXPECT_EQ(Head(m.data[2998], 4), (Bytes{first[3098], first[3099], 1, 2}));
    m.SetData(first.data(), 11);
    m.data[11] = 0;
    m.AppendData(nullptr, 2048);
    EXPECT_EQ(m.GetLength(), 16u + 2059);
    EXPECT_EQ(m.data[11], 0);
}

// Records each exchange ("sent", reply room, timeout, guard) and answers with reply and result.
struct ScriptedSocket : CTcpSocket {
    explicit ScriptedSocket(Bytes reply = {}, int result = 0) : reply(reply), result(result) {}
    Bytes reply;
    int result;
    Bytes sent;
    std::tuple<int, uint32_t, void*> seen{-1, 0, this};

    int SendReceive(uint32_t count, const void* request, int* replyLength, void* replyBuffer,
                    uint32_t timeoutMs, void* guard) override {
        sent.assign(static_cast<const uint8_t*>(request),
                    static_cast<const uint8_t*>(request) + count);
        seen = {*replyLength, timeoutMs, guard};
        *replyLength = std::min<int>(*replyLength, static_cast<int>(reply.size()));
        std::memcpy(replyBuffer, reply.data(), static_cast<size_t>(*replyLength));
        return result;
    }
};

// Open sends its fixed 267-byte request and Reset 8 bytes, each with a 12-byte reply room and
// 10 s; only a whole reply echoing the request's code passes its result on.
TEST(TcpCommAdapter, OpenAndResetPassOnOnlyAGatewayResult) {
    const struct {
        bool open;
        Bytes reply;
        int socketResult, expected;
    } cases[] = {{true, Words({12, 100, 5}), 0, 5},
                 {true, Words({12, 100, 5}, {}, 11), 0, 0},
                 {true, Words({12, 108, 5}), 0, 0},
                 {true, Words({12, 100, 5}), 2, 0},
                 {false, Words({12, 108, 7}), 0, 7}};
    for (const auto& c : cases) {
        ScriptedSocket socket(c.reply, c.socketResult);
        CTcpCommAdapter adapter(&socket);
        EXPECT_EQ(c.open ? adapter.Open(0x2A) : adapter.Reset(), c.expected);
        EXPECT_EQ(socket.sent, c.open ? Words({267, CCB_CMD_OPEN}, {0, 1, 1, 0x2A}, 267)
                                      : Words({8, CCB_CMD_RESET}));
        EXPECT_EQ(socket.seen, std::make_tuple(12, 10000u, nullptr));
    }
    // Lengths that would read past the request go nowhere.
    ScriptedSocket socket;
    CTcpCommAdapter adapter(&socket);
    CCcbMessage request;
    request.length = sizeof(CCcbMessage) + 1;
    EXPECT_EQ(adapter.Transact(&request, &request, 16, 20000), 1);
    EXPECT_EQ(adapter.SendRaw(&request, -1, &request, 16, 20000), 1);
    EXPECT_EQ(std::get<0>(socket.seen), -1) << "no exchange";
}

}  // namespace
