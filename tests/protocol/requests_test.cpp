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
const std::string kOld = "SetBytes - not supported operaion with this version of BOOT code\n";

// Programming and the jump show their texts in the download tests.
TEST_F(RequestTest, EachRequestHasItsCodeCapacityWaitAndMessages) {
    struct Request {
        Step run;
        uint32_t command, timeoutMs;
        std::string done, failed, transportFailed;  // the last when not `failed`
    };
    const Request requests[] = {
        {[](auto& p) { return p.AbortDownload(); }, CCB_CMD_ABORT, 60000, "Abort download DONE\n",
         "Error: Abort download  FAILED\n", ""},
        {[](auto& p) { return p.WriteEnable(); }, CCB_CMD_WRITE_ENABLE, 20000,
         "Write enable DONE\n", "Error: Write enable FAILED\n", ""},
        {[](auto& p) { return p.ValidateDescriptors(); }, CCB_CMD_VALIDATE, 20000,
         "Validating descriptors DONE\n", "Error: Validating descriptors FAILED\n", ""},
        {[](auto& p) { return p.JumpToApplicationQuiet(); }, CCB_CMD_JUMP_TO_APP, 20000, "",
         "Error: Jump to application FAILED\n", ""},
        {[](auto& p) { return p.IsStatusOK(); }, CCB_CMD_GET_STATUS, 20000, "IsStatusOK DONE\n",
         "Error: IsStatusOK FAILED\n", ""},
        {[](auto& p) { return p.DnlContSelection(); }, CCB_CMD_SELECT_VARIANT_1, 20000, "",
         "Dnl. CONT. SELECTION: FAILED\n", kTcp},
        {[](auto& p) { return p.DnlInitialization(); }, CCB_CMD_BOOT_INIT, 200000,
         "Dnl. initialization: DONE\n", "Dnl. initialization: FAILED\n", kTcp},
        {[](auto& p) { return p.InitExtendedInfoUpdate(0x1234); }, CCB_CMD_INIT_EXT_INFO, 20000,
         "InitExtendedInfoUpdate: DONE\n", "InitExtendedInfoUpdate: FAILED\n", kTcp},
        {[](auto& p) { return p.FlashExtInfoBlk(); }, CCB_CMD_SEND_DATA, 20000,
         "FlashExtInfoBlk: DONE\n", "FlashExtInfoBlk: FAILED\n", kTcp},
    };
    for (const Request& r : requests) {
        SCOPED_TRACE(r.failed);
        for (const auto& [fault, message] :
             {std::pair{Fault{}, r.done},
              {StatusFault(r.command, 101), r.failed},
              {TransportFault(r.command), r.transportFailed.empty() ? r.failed : kTcp}}) {
            gateway = NodeGateway();
            gateway.AddNode(5);
            gateway.faults = {fault};
            CPucDownloadProtocol& protocol = WithImage(MODE_PUC, {{10, 0x11}});
            console.Take();
            EXPECT_EQ(r.run(protocol), message == r.done);
            EXPECT_EQ(console.Take(), message);
            ASSERT_EQ(gateway.calls.size(), 1u);
            EXPECT_EQ(gateway.calls[0].command, r.command);
            EXPECT_EQ(gateway.calls[0].capacity, 16);
            EXPECT_EQ(gateway.calls[0].timeoutMs, r.timeoutMs);
        }
    }
}

TEST_F(RequestTest, ARequestWithoutDataResendsThePreviousDataAndLength) {
    gateway.AddNode(5);
    CPucDownloadProtocol& protocol = WithoutImage();
    protocol.InitExtendedInfoUpdate(0x01020304);
    protocol.WriteEnable();
    const std::vector<uint8_t> expected = {4, 3, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(gateway.calls.size(), 2u);
    EXPECT_EQ(gateway.calls[0].payload, expected);
    EXPECT_EQ(gateway.calls[1].payload, expected);
    EXPECT_EQ(gateway.calls[1].length, 32u);
    // An exchange that never arrived does not read as the last success.
    gateway.faults = {TransportFault(CCB_CMD_WRITE_ENABLE)};
    EXPECT_FALSE(protocol.WriteEnable());
    EXPECT_EQ(protocol.reply.status, 0xFFFFFFFFu);
}

TEST_F(RequestTest, StatusQueriesReadTheNodeStatusByte) {
    BootNode& node = gateway.AddNode(5);
    CPucDownloadProtocol& protocol = WithoutImage();
    // The code starts as 0x42, which success leaves.
    for (const auto& [statusByte, fault, ok, code, text] :
         {std::tuple{0, Fault{}, true, 0x42, std::string("Status: OK\n")},
          {0x85, Fault{}, false, 0x85, "Status: Error: 0x85\n"},
          {0, MissingDataFault(CCB_CMD_GET_STATUS), false, 0xFF, "Status: "},
          {0, TransportFault(CCB_CMD_GET_STATUS), false, 0xFF,
           "Error: Get status FAILED\nError: Get status FAILED\nError: Get status FAILED\n"}}) {
        SCOPED_TRACE(text);
        node.statusByte = static_cast<uint8_t>(statusByte);
        gateway.faults = {fault};
        uint8_t read = 0x42;
        EXPECT_EQ(protocol.GetStatus(), ok);
        EXPECT_EQ(protocol.GetStatusCode(&read), ok);
        EXPECT_EQ(read, code);
        EXPECT_EQ(protocol.GetStatusQuiet(), ok);
        EXPECT_EQ(console.Take(), text);
    }
    for (const GatewayCall& call : gateway.calls)
        EXPECT_EQ(call.capacity, 24);
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
    gateway.faults = {TransportFault(CCB_CMD_GET_INFO, 1), StatusFault(CCB_CMD_GET_INFO, 101, 2)};
    EXPECT_FALSE(protocol.GetBootCodeInfo());
    EXPECT_FALSE(protocol.GetBootCodeInfo());
    EXPECT_EQ(console.Take(), kTcp);
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
        EXPECT_EQ(gateway.trace.front(), "open 127");
        EXPECT_EQ(gateway.trace.back(), "204 0:4048");
    }
    gateway.nodes[0].memory[0x4000] = 0x00;
    gateway.faults = {StatusFault(CCB_CMD_READ_CODE, 101, 2)};
    EXPECT_FALSE(WithoutImage().GetPucInfo(5));
    EXPECT_EQ(console.Take(), "Boot code version: 1.99" + head +
                                  "FLASH memory contains no application\n"
                                  "Error: Debug controller FAILED\nCan not get BOOT code info\n");
}

TEST_F(RequestTest, SetBytesWritesFiveBytesPerRequest) {
    BootNode& node = WithInfoBlock(gateway.AddNode(5, "2.00"));
    CPucDownloadProtocol& protocol = WithImage(MODE_PUC, {{10, 0x11}});
    std::strcpy(image->foundFileName, "ABCDEFGHIJKLMNOPQRST");
    std::strcpy(image->fileDate, "");
    std::strcpy(image->loadDate, "9.9.99");
    protocol.GetBootCodeInfoQuiet();
    EXPECT_TRUE(protocol.SendInfoBlockData());
    EXPECT_EQ(gateway.Steps(1),
              "215 95 10 40 41 42 43 44 45, 215 95 15 40 46 47 48 49 4A, "
              "215 95 1A 40 4B 4C 4D 4E 4F, 215 91 1F 40 50, "
              "215 95 28 40 39 2E 39 2E 39, 215 91 2D 40 39, "
              "215 94 30 40 00 00 00 00, 215 91 34 40 FF");
    // A short text leaves the rest of its field as it was.
    std::strcpy(image->foundFileName, "abc");
    EXPECT_TRUE(protocol.SendInfoBlockData());
    EXPECT_EQ(0, std::memcmp(node.memory.data() + 0x4010, "abcDEFGHIJKLMNOP01.02.249.9.99", 30));
    EXPECT_EQ(console.Take(), "SendInfoBlockData DONE\nSendInfoBlockData DONE\n");

    gateway.trace.clear();
    const uint8_t bytes[12] = {1, 2};
    EXPECT_TRUE(protocol.SetBytes(1, 0x4040, 2, bytes));
    EXPECT_TRUE(protocol.SetInfoBlockByte(0x42));
    EXPECT_TRUE(protocol.SetBytes(0, 0x4040, 0, bytes));
    // Each accepted chunk clears the request, so a request without data follows with none.
    EXPECT_TRUE(protocol.WriteEnable());
    EXPECT_EQ(gateway.Steps(), "215 9A 40 40 01 02, 215 91 11 40 42, 203");
    EXPECT_EQ(gateway.calls.back().length, 16u);
    console.Take();
    // The first refused chunk ends the writes.
    gateway.trace.clear();
    gateway.faults = {StatusFault(CCB_CMD_SEND_DATA, 101, 2)};
    EXPECT_FALSE(protocol.SetBytes(0, 0x4010, 12, bytes));
    EXPECT_EQ(gateway.trace.size(), 2u);
    EXPECT_EQ(console.Take(), "SetBytes: FAILED\n");
}

// The probes of a scan over nodes 2..127.
std::string ScanSteps() {
    std::string steps;
    for (int node = 2; node <= 127; ++node)
        steps += ", 218 node " + std::to_string(node) + ", 208";
    return steps + ", reset";
}

TEST_F(RequestTest, ScanListsTheNodesInBootModeInRisingOrder) {
    CPucDownloadProtocol& protocol = WithoutImage();
    const std::string dashes(73, '-');
    EXPECT_TRUE(protocol.ScanBootNodes());
    EXPECT_EQ(console.Take(), dashes + "\nDetected nodes in BOOT mode:\nNone\n");
    EXPECT_EQ(gateway.Steps(), "open 127, 212" + ScanSteps());
    gateway.AddNode(0x7F, "V1.0");
    gateway.AddNode(0x10, "2.00");
    gateway.AddNode(0x20, "3.00").inBootMode = false;
    EXPECT_TRUE(protocol.ScanBootNodes());
    EXPECT_EQ(console.Take(), dashes + "\nDetected nodes in BOOT mode:\n0x10 0x7F \n");
    // The last answering node's version stays; a non-'V' one on the way marked the extended block.
    EXPECT_STREQ(protocol.bootCodeVersion, "V1.0");
    EXPECT_EQ(protocol.extendedInfoSupported, 1u);
}

TEST_F(RequestTest, FindBootNodeIdPacksEveryOtherAnsweringNode) {
    for (const auto& [answering, result] : {std::pair{std::vector<uint8_t>{5, 9}, 5},
                                            {{9, 12}, 0x090C},
                                            {{2, 3, 4, 5, 6}, 0x03040506},
                                            {{}, -1}}) {
        SCOPED_TRACE(result);
        gateway = NodeGateway();
        for (uint8_t node : answering)
            gateway.AddNode(node);
        const std::string expected = answering.size() == 5 ? "7" : "5";
        EXPECT_EQ(WithoutImage().FindBootNodeId(std::stoi(expected)), result);
        EXPECT_EQ(gateway.Steps(), "open 127, 212, 218 node " + expected + ", 208" +
                                       (result == std::stoi(expected) ? "" : ScanSteps()));
    }
    EXPECT_EQ(console.Take(), "");
    gateway.faults = {TransportFault(CCB_CMD_OPEN)};
    EXPECT_EQ(WithoutImage().FindBootNodeId(5), -1);
}

const std::string kV3 = "Boot code version: V3.0 Application board hardware ID: 0x11\n";
const std::string kV2 = "Boot code version: 2.00 Application board hardware ID: 0x11\n";

// Node operations: their steps, their messages, and the exact request of the one that matters.
// Their success through the simulator is proven end to end.
TEST_F(RequestTest, NodeOperationsRunTheirStepsAndSayWhatHappened) {
    struct Op {
        std::function<void(NodeGateway&)> setup;
        Step run;
        bool result;
        std::string steps, text;  // empty steps: not checked
        uint32_t command = 0;     // the first request of this command carries:
        std::vector<uint8_t> payload = {};
        uint32_t timeoutMs = 0;
    };
    const Op ops[] = {
        {[](auto& g) { g.AddNode(5, "2.00").inBootMode = false; },
         [](auto& p) { return p.GoToBootMode(5); },
         true,
         "open 5, 212, 200 node 5, 208, 207",
         kV2 + "Status: OK\n",
         CCB_CMD_BOOT_INIT,
         {0, 5, 0, 0, 0, 0, 0, 0, 0, 0xF4, 0x01, 0, 0, 0x80, 0x01, 0x00, 0x02},
         40000},
        {[](auto& g) { g.AddNode(7); }, [](auto& p) { return p.GoToApplication(7); }, true,
         "open 7, 212, 218 node 7, 208, 205", kV3 + "Jump to application DONE\n"},
        // Only the information reply is judged; the gateway gets 2 ms to configure.
        {[](auto& g) {
             g.AddNode(9);
             g.faults = {StatusFault(CCB_CMD_CONFIGURE, 101)};
         },
         [](auto& p) { return p.SelectBootNode(9, 0); }, true, "218 node 9, 208", kV3},
        {[](auto&) {},
         [](auto& p) { return p.SelectBootNode(8, 0); },
         false,
         "218 node 8, 208",
         "PUC is not in BOOT code, or there is no connection with it\n"
         "Check PUC or try other nodeID!\n",
         CCB_CMD_CONFIGURE,
         {0, 8, 0, 0, 0, 0, 0, 0, 0, 60, 0, 0, 0, 0x80, 1, 0, 2},
         2},
        {[](auto& g) { WithInfoBlock(g.AddNode(5, "2.00")); },
         [](auto& p) { return p.SetBootNodeId(0x22); },
         true,
         "open 5, 212, 218 node 5, 208, 207, 217, 215 91 34 40 22, 203, 215 B0, sleep 3000, 207",
         kV2 + "Status: OK\nInitExtendedInfoUpdate: DONE\nWrite enable DONE\n"
               "FlashExtInfoBlk: DONE\nStatus: OK\n",
         CCB_CMD_INIT_EXT_INFO,
         {5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         20000},
        // An old boot code refuses only after the extended-info initialisation went out.
        {[](auto& g) { WithInfoBlock(g.AddNode(5, "1.00")); },
         [](auto& p) { return p.SetBootNodeId(0x22); }, false,
         "open 5, 212, 218 node 5, 208, 207, 217",
         "Boot code version: 1.00 Application board hardware ID: 0x11\nStatus: OK\n"
         "InitExtendedInfoUpdate: DONE\n" +
             kOld},
        // Before any version was read, too.
        {[](auto& g) { g.AddNode(5, "3.00"); },
         [](auto& p) { return p.SetBytes(0, 0x4010, 1, reinterpret_cast<const uint8_t*>("x")); },
         false, "", kOld},
    };
    for (const Op& op : ops) {
        SCOPED_TRACE(op.text);
        gateway = NodeGateway();
        op.setup(gateway);
        EXPECT_EQ(op.run(WithoutImage()), op.result);
        EXPECT_TRUE(op.steps.empty() || gateway.Steps() == op.steps) << gateway.Steps();
        EXPECT_EQ(console.Take(), op.text);
        if (op.command != 0) {
            const GatewayCall call = gateway.CallsOf(op.command).at(0);
            EXPECT_EQ(call.payload, op.payload);
            EXPECT_EQ(call.timeoutMs, op.timeoutMs);
        }
    }
}

}  // namespace
}  // namespace orv::test
