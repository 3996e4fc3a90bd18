#include <cstring>
#include <functional>

#include "support/NodeGateway.h"

namespace orv::test {
namespace {

// A valid application and a filled extended block: a 16-character name without terminator,
// a modification date, an erased flashing date, version 0x01020304.
BootNode& WithInfoBlock(BootNode& node, uint8_t softCanId = 0xFF) {
    const uint8_t head[6] = {0xA5, 0xA5, 0x12, 0x34, 0x50, 0x00};
    std::memcpy(node.memory.data() + 0x4000, head, sizeof head);
    std::memcpy(node.memory.data() + 0x4010, "ABCDEFGHIJKLMNOP01.02.24", 24);
    const uint8_t tail[5] = {0x04, 0x03, 0x02, 0x01, softCanId};
    std::memcpy(node.memory.data() + 0x4030, tail, sizeof tail);
    return node;
}

using RequestTest = NodeGatewayTest;
using Step = std::function<bool(CPucDownloadProtocol&)>;

const std::string kTcp = "Error in TCP/IP communication\n";

// Programming and the jump show their texts in the download tests.
TEST_F(RequestTest, EachRequestHasItsCodeCapacityWaitAndMessages) {
    using P = CPucDownloadProtocol;
    struct Request {
        Step run;
        uint32_t command, timeoutMs;
        std::string done, failed;
        bool tcp;  // a transport failure says so instead of `failed`
    };
    const Request requests[] = {
        {&P::AbortDownload, CCB_CMD_ABORT, 60000, "Abort download DONE\n",
         "Error: Abort download  FAILED\n", false},
        {&P::WriteEnable, CCB_CMD_WRITE_ENABLE, 20000, "Write enable DONE\n",
         "Error: Write enable FAILED\n", false},
        {&P::ValidateDescriptors, CCB_CMD_VALIDATE, 20000, "Validating descriptors DONE\n",
         "Error: Validating descriptors FAILED\n", false},
        {&P::DnlContSelection, CCB_CMD_SELECT_VARIANT_1, 20000, "",
         "Dnl. CONT. SELECTION: FAILED\n", true},
        {&P::DnlInitialization, CCB_CMD_BOOT_INIT, 200000, "Dnl. initialization: DONE\n",
         "Dnl. initialization: FAILED\n", true},
        {[](P& p) { return p.InitExtendedInfoUpdate(0x1234); }, CCB_CMD_INIT_EXT_INFO, 20000,
         "InitExtendedInfoUpdate: DONE\n", "InitExtendedInfoUpdate: FAILED\n", true},
        {&P::FlashExtInfoBlk, CCB_CMD_SEND_DATA, 20000, "FlashExtInfoBlk: DONE\n",
         "FlashExtInfoBlk: FAILED\n", true},
    };
    for (const Request& r : requests) {
        SCOPED_TRACE(r.failed);
        for (const auto& [fault, message] :
             {std::pair{Fault{}, r.done},
              {StatusFault(r.command, 101), r.failed},
              {TransportFault(r.command), r.tcp ? kTcp : r.failed}}) {
            gateway = NodeGateway();
            gateway.AddNode(5);
            gateway.faults = {fault};
            CPucDownloadProtocol& protocol = WithImage(MODE_PUC, {{10, 0x11}});
            console.Take();
            EXPECT_EQ(r.run(protocol), message == r.done);
            EXPECT_EQ(console.Take(), message);
            const GatewayCall& call = gateway.calls.at(0);
            EXPECT_EQ(std::tuple(gateway.calls.size(), call.command, call.capacity, call.timeoutMs),
                      std::tuple(1u, r.command, 16, r.timeoutMs));
        }
    }
}

TEST_F(RequestTest, StatusQueriesReadTheNodeStatusByte) {
    gateway.AddNode(5).statusByte = 0x85;
    CPucDownloadProtocol& protocol = WithoutImage();
    uint8_t read = 0;
    EXPECT_FALSE(protocol.GetStatus());
    EXPECT_FALSE(protocol.GetStatusCode(&read));
    EXPECT_EQ(read, 0x85);
    EXPECT_EQ(console.Take(), "Status: Error: 0x85\n");
}

// A version not starting with 'V' marks the extended block, which no later read clears.
TEST_F(RequestTest, BootCodeInfoUpperCasesTheVersionAndNotesTheExtendedBlock) {
    BootNode& node = gateway.AddNode(5);
    CPucDownloadProtocol& protocol = WithoutImage();
    for (const auto& [version, shown, extended] :
         {std::tuple{"v3a1", "V3A1", 0u}, {"2015", "2015", 1u}, {"V1.0", "V1.0", 1u}}) {
        node.version = version;
        EXPECT_TRUE(protocol.GetBootCodeInfoQuiet());
        EXPECT_STREQ(protocol.bootCodeVersion, shown);
        EXPECT_EQ(protocol.extendedInfoSupported, extended);
    }
    EXPECT_TRUE(protocol.GetBootCodeInfo());
    EXPECT_EQ(console.Take(), "Boot code version: V1.0 Application board hardware ID: 0x11\n");
}

TEST_F(RequestTest, TheSoftCanIdIsExplainedAndOldBootCodesShowOnlyTheHead) {
    const std::string chip =
        "Chip content:\n\tFile name       : ABCDEFGHIJKLMNOP\n\tFile mod. date  : 01.02.24\n"
        "\tFile Version    : 0x1020304\n\tSoft. CAN ID    : ";
    const std::string head =
        " Application board hardware ID: 0x11\nGoing to boot mode (for PUC) OK\n";
    for (const auto& [version, softCanId, ending] :
         {std::tuple{"2.00", 0xFF, chip + "0xFF - not activated\n"},
          {"V2.0", 0x00, chip + "0x0 - hwdID used as BOOT code CAN node ID\n"},
          {"3.00", 0x22, chip + "0x22\n"},
          {"1.99", 0x22, ""}}) {
        SCOPED_TRACE(version);
        gateway = NodeGateway();
        WithInfoBlock(gateway.AddNode(5, version), static_cast<uint8_t>(softCanId));
        EXPECT_TRUE(WithoutImage().GetPucInfo(5));
        EXPECT_EQ(console.Take(), "Boot code version: " + std::string(version) + head +
                                      "FLASH memory contains valid application flag (0xA5A5)\n"
                                      "App file check sum: 0x1234\nApp entry address is 0x5000\n" +
                                      ending);
        EXPECT_TRUE(gateway.trace.front() == "open 127" && gateway.trace.back() == "204 0:4048");
    }
}

// The probes of a scan over nodes 2..127.
std::string ScanSteps() {
    std::string steps;
    for (int node = 2; node <= 127; ++node)
        steps += ", 218 node " + std::to_string(node) + ", 208";
    return steps + ", reset";
}

TEST_F(RequestTest, FindBootNodeIdPacksEveryOtherAnsweringNode) {
    for (const auto& [answering, result] :
         {std::pair{std::vector<uint8_t>{5, 9}, 5}, {{2, 3, 4, 5, 6}, 0x03040506}, {{}, -1}}) {
        SCOPED_TRACE(result);
        gateway = NodeGateway();
        for (uint8_t node : answering)
            gateway.AddNode(node);
        const std::string expected = answering.size() == 5 ? "7" : "5";
        EXPECT_EQ(WithoutImage().FindBootNodeId(std::stoi(expected)), result);
        EXPECT_EQ(gateway.Steps(), "open 127, 212, 218 node " + expected + ", 208" +
                                       (result == std::stoi(expected) ? "" : ScanSteps()));
    }
}

// Their success through the simulator is proven end to end.
TEST_F(RequestTest, GoingToBootModeAndSettingTheIdRunTheirStepsWithTheirExactRequests) {
    const std::string v2 =
        "Boot code version: 2.00 Application board hardware ID: 0x11\nStatus: OK\n";
    gateway.AddNode(5, "2.00").inBootMode = false;
    EXPECT_TRUE(WithoutImage().GoToBootMode(5));
    EXPECT_EQ(gateway.Steps(), "open 5, 212, 200 node 5, 208, 207");
    EXPECT_EQ(console.Take(), v2);
    const GatewayCall init = gateway.CallsOf(CCB_CMD_BOOT_INIT).at(0);
    EXPECT_EQ(init.payload,
              (std::vector<uint8_t>{0, 5, 0, 0, 0, 0, 0, 0, 0, 0xF4, 1, 0, 0, 0x80, 1, 0, 2}));
    EXPECT_EQ(init.timeoutMs, 40000u);
    gateway = NodeGateway();
    WithInfoBlock(gateway.AddNode(5, "2.00"));
    EXPECT_TRUE(WithoutImage().SetBootNodeId(0x22));
    EXPECT_EQ(gateway.Steps(),
              "open 5, 212, 218 node 5, 208, 207, 217, 215 91 34 40 22, 203, 215 B0, "
              "sleep 3000, 207");
    EXPECT_EQ(console.Take(), v2 + "InitExtendedInfoUpdate: DONE\nWrite enable DONE\n"
                                   "FlashExtInfoBlk: DONE\nStatus: OK\n");
    EXPECT_EQ(gateway.CallsOf(CCB_CMD_INIT_EXT_INFO).at(0).payload,
              (std::vector<uint8_t>{5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

}  // namespace
}  // namespace orv::test
