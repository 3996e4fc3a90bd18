// The card drivers with our driver libraries, over the simulator's socketcand bridge: the
// library threads, the drivers' receive paths and the transport meet for real.
#include <gtest/gtest.h>

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
    uint32_t Run(CPcCommAdapter& adapter, uint32_t command, uint8_t node = 0) {
        BootInitParams params;  // read by CCB_CMD_CONFIGURE only
        params.nodeId = node;
        request.SetAll(sizeof params, &params, command, 0);
        reply.status = 0xFFFFFFFF;
        EXPECT_EQ(adapter.Transact(&request, &reply, 24, 20000), 0);
        return reply.status;
    }

    CCcbMessage request, reply;
};

std::string BridgeLink(int port) {
    return "socketcand:127.0.0.1:" + std::to_string(port) + "/can0";
}

TEST_P(CardLibraries, ABoardAnswersThroughTheCardAnotherNodeStaysSilentNoLinkNoOpen) {
    int closedPort = 0;
    {
        SimProcess gone({"--bridge", "0"});
        closedPort = gone.BridgePort();
    }
    for (const std::string& link : {std::string(), BridgeLink(closedPort)}) {
        BuiltCardLibraries libraries(link);
        EXPECT_EQ(CPcCommAdapter(GetParam()).Open(12), 1) << link;
    }

    SimProcess sim({"--puc", "12,mode=boot,version=3177,hwid=9", "--bridge", "0"});
    BuiltCardLibraries libraries(BridgeLink(sim.BridgePort()));
    CPcCommAdapter adapter(GetParam());
    ASSERT_EQ(adapter.Open(12), 0);
    EXPECT_EQ(Run(adapter, CCB_CMD_CONFIGURE, 12), CCB_STATUS_OK);
    // Many exchanges in a row: no frame is lost or left over between them.
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(Run(adapter, CCB_CMD_GET_INFO), CCB_STATUS_OK) << sim.Log();
        ASSERT_EQ(std::vector<uint8_t>(reply.data, reply.data + reply.dataLength),
                  (std::vector<uint8_t>{0, '3', '1', '7', '7', 0, 0, 9}));
    }
    EXPECT_EQ(Run(adapter, CCB_CMD_CONFIGURE, 13), CCB_STATUS_OK);
    EXPECT_EQ(Run(adapter, CCB_CMD_GET_INFO), CCB_STATUS_NO_REPLY);
    EXPECT_EQ(adapter.Reset(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cards, CardLibraries, testing::Values("CAN0", "CAN1"),
                         [](const testing::TestParamInfo<const char*>& card) {
                             return std::string(card.param) == "CAN0" ? "NiCan" : "UsbAdapter";
                         });

}  // namespace
}  // namespace orv::test
