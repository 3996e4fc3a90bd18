// The card drivers with our driver libraries, over the simulator's socketcand bridge: the
// library threads, the drivers' receive paths and the transport meet for real.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "pccard/PcCommAdapter.h"
#include "support/BuiltCardLibraries.h"
#include "support/SimProcess.h"
#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace orv::test {
namespace {

class CardLibraries : public testing::TestWithParam<const char*> {
  protected:
    uint32_t Run(CPcCommAdapter& adapter, uint32_t command, const void* payload = nullptr,
                 uint32_t size = 0) {
        request.SetAll(size, payload, command, 0);
        reply.status = 0xFFFFFFFF;
        EXPECT_EQ(adapter.Transact(&request, &reply, 24, 20000), 0);
        return reply.status;
    }
    uint32_t Configure(CPcCommAdapter& adapter, uint8_t node) {
        BootInitParams params;
        params.nodeId = node;
        return Run(adapter, CCB_CMD_CONFIGURE, &params, sizeof params);
    }
    std::vector<uint8_t> ReplyData() const { return {reply.data, reply.data + reply.dataLength}; }

    CCcbMessage request;
    CCcbMessage reply;
};

std::string BridgeLink(const SimProcess& sim) {
    return "socketcand:127.0.0.1:" + std::to_string(sim.BridgePort()) + "/can0";
}

TEST_P(CardLibraries, ABootModeBoardAnswersThroughTheCard) {
    SimProcess sim({"--puc", "12,mode=boot,version=3177,hwid=9", "--bridge", "0"});
    BuiltCardLibraries libraries(BridgeLink(sim));
    CPcCommAdapter adapter(GetParam());
    ASSERT_EQ(adapter.Open(12), 0);
    EXPECT_EQ(Configure(adapter, 12), CCB_STATUS_OK);
    EXPECT_EQ(Run(adapter, CCB_CMD_GET_INFO), CCB_STATUS_OK) << sim.Log();
    EXPECT_EQ(ReplyData(), (std::vector<uint8_t>{0, '3', '1', '7', '7', 0, 0, 9}));
    EXPECT_EQ(Run(adapter, CCB_CMD_GET_STATUS), CCB_STATUS_OK);
    EXPECT_EQ(reply.dataLength, 8u);
    // Many exchanges in a row: no frame is lost or left over between them.
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(Run(adapter, CCB_CMD_GET_INFO), CCB_STATUS_OK);
        ASSERT_EQ(ReplyData()[4], '7');
    }
    EXPECT_EQ(adapter.Reset(), 0);
}

TEST_P(CardLibraries, AnotherNodeStaysSilentForTheWholeWait) {
    SimProcess sim({"--puc", "12,mode=boot", "--bridge", "0"});
    BuiltCardLibraries libraries(BridgeLink(sim));
    CPcCommAdapter adapter(GetParam());
    ASSERT_EQ(adapter.Open(13), 0);
    EXPECT_EQ(Configure(adapter, 13), CCB_STATUS_OK);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(adapter, CCB_CMD_GET_INFO), CCB_STATUS_NO_REPLY);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(480));  // five reads of 100 ms
    EXPECT_LT(waited, std::chrono::milliseconds(5000));
}

TEST_P(CardLibraries, AnUnreachableLinkLeavesTheCardUnopened) {
    int closedPort = 0;
    {
        SimProcess sim({"--bridge", "0"});
        closedPort = sim.BridgePort();
    }
    for (const std::string& link :
         {std::string(), "socketcand:127.0.0.1:" + std::to_string(closedPort) + "/can0"}) {
        SCOPED_TRACE(link);
        BuiltCardLibraries libraries(link);
        CPcCommAdapter adapter(GetParam());
        EXPECT_EQ(adapter.Open(12), 1);
        EXPECT_EQ(Configure(adapter, 12), CCB_STATUS_OK);
        EXPECT_EQ(Run(adapter, CCB_CMD_GET_INFO), CCB_STATUS_NO_REPLY);
    }
}

INSTANTIATE_TEST_SUITE_P(Cards, CardLibraries, testing::Values("CAN0", "CAN1"),
                         [](const testing::TestParamInfo<const char*>& card) {
                             return std::string(card.param) == "CAN0" ? "NiCan" : "UsbAdapter";
                         });

}  // namespace
}  // namespace orv::test
