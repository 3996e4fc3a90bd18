#include "ProtocolFixture.h"
#include "transport/GatewayCodes.h"

namespace orv::test {
namespace {

using Trace = std::vector<std::string>;
using NodeManagementTest = ProtocolTest;

// The probes of a scan over nodes 2..127, after opening node 127.
Trace ScanTrace() {
    Trace trace = {"open 127", "212"};
    for (int node = 2; node <= 127; ++node) {
        trace.insert(trace.end(), {"218 node " + std::to_string(node), "208"});
    }
    return trace;
}

TEST_F(NodeManagementTest, ScanListsTheNodesInBootModeInRisingOrder) {
    CPucDownloadProtocol& protocol = WithoutImage();
    const std::string dashes =
        "-------------------------------------------------------------------------\n";
    EXPECT_TRUE(protocol.ScanBootNodes());
    EXPECT_EQ(console.Take(), dashes + "Detected nodes in BOOT mode:\nNone\n");
    Trace expected = ScanTrace();
    expected.push_back("reset");
    EXPECT_EQ(gateway.trace, expected);

    gateway.AddNode(0x7F, "V1.0");
    gateway.AddNode(0x10, "2.00");
    gateway.AddNode(0x20, "3.00").inBootMode = false;
    EXPECT_TRUE(protocol.ScanBootNodes());
    EXPECT_EQ(console.Take(), dashes + "Detected nodes in BOOT mode:\n0x10 0x7F \n");
    // The last answering node's version stays; a non-'V' one on the way marked the extended block.
    EXPECT_STREQ(protocol.bootCodeVersion, "V1.0");
    EXPECT_EQ(protocol.extendedInfoSupported, 1u);
}

TEST_F(NodeManagementTest, FindBootNodeIdPacksEveryOtherAnsweringNode) {
    struct Case {
        std::vector<uint8_t> answering;
        int result;
    };
    for (const Case& c :
         {Case{{5, 9}, 5}, {{9}, 9}, {{9, 12}, 0x090C}, {{2, 3, 4, 5, 6}, 0x03040506}, {{}, -1}}) {
        SCOPED_TRACE(c.result);
        gateway = TestGateway();
        for (uint8_t node : c.answering) {
            gateway.AddNode(node);
        }
        const uint8_t expected = c.answering.size() == 5 ? 7 : 5;
        EXPECT_EQ(WithoutImage().FindBootNodeId(expected), c.result);
        Trace trace = {"open 127", "212", "218 node " + std::to_string(expected), "208"};
        if (c.result != expected) {
            trace = ScanTrace();
            trace.insert(trace.begin() + 2, {"218 node " + std::to_string(expected), "208"});
            trace.push_back("reset");
        }
        EXPECT_EQ(gateway.trace, trace);
    }
    EXPECT_EQ(console.Take(), "");

    gateway.faults = {TransportFault(CCB_CMD_OPEN)};
    EXPECT_EQ(WithoutImage().FindBootNodeId(5), -1);
}

TEST_F(NodeManagementTest, GoToBootModeAsksTheApplicationAndThenTheBootLoader) {
    BootNode& node = gateway.AddNode(5, "2.00");
    node.inBootMode = false;
    EXPECT_TRUE(WithoutImage().GoToBootMode(5));
    EXPECT_EQ(gateway.trace, (Trace{"open 5", "212", "200 node 5", "208", "207"}));
    const GatewayCall bootInit = gateway.CallsOf(CCB_CMD_BOOT_INIT)[0];
    EXPECT_EQ(bootInit.payload, (std::vector<uint8_t>{0, 5, 0, 0, 0, 0, 0, 0, 0, 0xF4, 0x01, 0, 0,
                                                      0x80, 0x01, 0x00, 0x02}));
    EXPECT_EQ(bootInit.timeoutMs, 40000u);
    EXPECT_EQ(console.Take(),
              "Boot code version: 2.00 Application board hardware ID: 0x11\nStatus: OK\n");
    EXPECT_TRUE(node.inBootMode);
}

TEST_F(NodeManagementTest, ABootLoaderUnderAnotherIdIsReported) {
    for (bool quiet : {false, true}) {
        gateway = TestGateway();
        BootNode& node = gateway.AddNode(9);
        node.applicationId = 5;
        node.inBootMode = false;
        CPucDownloadProtocol& protocol = WithoutImage();
        EXPECT_FALSE(quiet ? protocol.GoToBootModeQuiet(5) : protocol.GoToBootMode(5));
        EXPECT_EQ(console.Take(),
                  "It is possible that this PUC uses different CAN node ID in BOOT mode!\n");
    }
}

TEST_F(NodeManagementTest, GoToApplicationSelectsTheBootNodeAndJumps) {
    for (bool quiet : {false, true}) {
        gateway = TestGateway();
        BootNode& node = gateway.AddNode(7);
        CPucDownloadProtocol& protocol = WithoutImage();
        EXPECT_TRUE(quiet ? protocol.GoToApplicationQuiet(7) : protocol.GoToApplication(7));
        EXPECT_EQ(gateway.trace, (Trace{"open 7", "212", "218 node 7", "208", "205"}));
        EXPECT_FALSE(node.inBootMode);
        EXPECT_EQ(console.Take(), quiet ? ""
                                        : "Boot code version: V3.0 Application board hardware "
                                          "ID: 0x11\nJump to application DONE\n");
    }
    EXPECT_FALSE(WithoutImage().GoToApplication(7));  // no longer in boot mode
    EXPECT_EQ(gateway.trace.back(), "208");
}

}  // namespace
}  // namespace orv::test
