#include "transport/TcpCommAdapter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <initializer_list>
#include <vector>

#include "support/TcpSocketPeer.h"
#include "transport/GatewayCodes.h"

namespace orv {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t kLoopback[4] = {127, 0, 0, 1};

Bytes Words(std::initializer_list<uint32_t> words) {
    Bytes bytes;
    for (uint32_t word : words)
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<uint8_t>(word >> (8 * i)));
    return bytes;
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
        {false, Words({12, CCB_CMD_OPEN, 5}), 5},
        {false, Bytes{11, 0, 0, 0, CCB_CMD_OPEN, 0, 0, 0, 5, 0, 0}, 0},
        {true, Words({12, CCB_CMD_RESET, 7}), 7},
        {true, Words({12, CCB_CMD_OPEN, 7}), 0},
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

// A request goes out with exactly the bytes its length field names, whatever the room behind.
TEST_F(TcpCommAdapterTest, TransactSendsTheMessageLengthAndNoMore) {
    CCcbMessage request;
    const Bytes subblock(2059, 0x5A);
    request.SetAll(static_cast<uint32_t>(subblock.size()), subblock.data(), CCB_CMD_WRITE_SUBBLOCK,
                   0);
    auto gateway = Answer(request.length, Words({16, CCB_CMD_WRITE_SUBBLOCK, CCB_STATUS_OK, 0}));
    CCcbMessage reply;
    EXPECT_EQ(adapter_.Transact(&request, &reply, sizeof reply, 1000), 0);
    EXPECT_EQ(gateway.get().size(), 2075u);
    EXPECT_EQ(reply.status, CCB_STATUS_OK);
    EXPECT_TRUE(peer_.Read(1, 100).empty());
}

}  // namespace
}  // namespace orv
