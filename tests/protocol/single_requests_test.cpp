#include <functional>

#include "ProtocolFixture.h"
#include "transport/GatewayCodes.h"

namespace orv::test {
namespace {

class SingleRequestTest : public ProtocolTest {
  protected:
    SingleRequestTest() { gateway.addressed = 5; }
};

struct SingleRequest {
    const char* name;
    std::function<bool(CPucDownloadProtocol&)> run;
    uint32_t command;
    int capacity;
    uint32_t timeoutMs;
    std::string done;
    std::string failed;
    std::string transportFailed;  // what a failed exchange prints
};

const std::vector<SingleRequest> kSingleRequests = {
    {"abort", [](auto& p) { return p.AbortDownload(); }, CCB_CMD_ABORT, 16, 60000,
     "Abort download DONE\n", "Error: Abort download  FAILED\n", "Error: Abort download  FAILED\n"},
    {"write enable", [](auto& p) { return p.WriteEnable(); }, CCB_CMD_WRITE_ENABLE, 16, 20000,
     "Write enable DONE\n", "Error: Write enable FAILED\n", "Error: Write enable FAILED\n"},
    {"validate", [](auto& p) { return p.ValidateDescriptors(); }, CCB_CMD_VALIDATE, 16, 20000,
     "Validating descriptors DONE\n", "Error: Validating descriptors FAILED\n",
     "Error: Validating descriptors FAILED\n"},
    {"program", [](auto& p) { return p.ProgramSubblock(); }, CCB_CMD_PROGRAM_SUBBLOCK, 16, 20000,
     "ProgramSubblock DONE\n", "ProgramSubblock FAILED\n", "ProgramSubblock FAILED\n"},
    {"jump", [](auto& p) { return p.JumpToApplication(); }, CCB_CMD_JUMP_TO_APP, 16, 20000,
     "Jump to application DONE\n", "Error: Jump to application FAILED\n",
     "Error: Jump to application FAILED\n"},
    {"jump quietly", [](auto& p) { return p.JumpToApplicationQuiet(); }, CCB_CMD_JUMP_TO_APP, 16,
     20000, "", "Error: Jump to application FAILED\n", "Error: Jump to application FAILED\n"},
    {"status ok", [](auto& p) { return p.IsStatusOK(); }, CCB_CMD_GET_STATUS, 16, 20000,
     "IsStatusOK DONE\n", "Error: IsStatusOK FAILED\n", "Error: IsStatusOK FAILED\n"},
    {"controller selection", [](auto& p) { return p.DnlContSelection(); }, CCB_CMD_SELECT_VARIANT_1,
     16, 20000, "", "Dnl. CONT. SELECTION: FAILED\n", "Error in TCP/IP communication\n"},
    {"initialization", [](auto& p) { return p.DnlInitialization(); }, CCB_CMD_BOOT_INIT, 16, 200000,
     "Dnl. initialization: DONE\n", "Dnl. initialization: FAILED\n",
     "Error in TCP/IP communication\n"},
    {"ext info init", [](auto& p) { return p.InitExtendedInfoUpdate(0x1234); },
     CCB_CMD_INIT_EXT_INFO, 16, 20000, "InitExtendedInfoUpdate: DONE\n",
     "InitExtendedInfoUpdate: FAILED\n", "Error in TCP/IP communication\n"},
    {"flash ext info", [](auto& p) { return p.FlashExtInfoBlk(); }, CCB_CMD_SEND_DATA, 16, 20000,
     "FlashExtInfoBlk: DONE\n", "FlashExtInfoBlk: FAILED\n", "Error in TCP/IP communication\n"},
};

TEST_F(SingleRequestTest, EachRequestHasItsCodeCapacityWaitAndMessages) {
    for (const SingleRequest& r : kSingleRequests) {
        SCOPED_TRACE(r.name);
        for (const auto& [faults, message] : {std::pair{std::vector<Fault>{}, r.done},
                                              {{StatusFault(r.command, 101)}, r.failed},
                                              {{TransportFault(r.command)}, r.transportFailed}}) {
            gateway.faults = faults;
            gateway.calls.clear();
            gateway.nodes.clear();
            gateway.AddNode(5);
            CPucDownloadProtocol& protocol = WithImage(MODE_PUC, {{10, 0x11}});
            console.Take();
            EXPECT_EQ(r.run(protocol), faults.empty());
            EXPECT_EQ(console.Take(), message);
            ASSERT_EQ(gateway.calls.size(), 1u);
            EXPECT_EQ(gateway.calls[0].command, r.command);
            EXPECT_EQ(gateway.calls[0].capacity, r.capacity);
            EXPECT_EQ(gateway.calls[0].timeoutMs, r.timeoutMs);
        }
    }
}

TEST_F(SingleRequestTest, ARequestWithoutDataResendsThePreviousDataAndLength) {
    gateway.AddNode(5);
    CPucDownloadProtocol& protocol = WithoutImage();
    protocol.InitExtendedInfoUpdate(0x01020304);
    protocol.WriteEnable();
    const auto calls = gateway.calls;
    ASSERT_EQ(calls.size(), 2u);
    const std::vector<uint8_t> expected = {4, 3, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(calls[0].payload, expected);
    EXPECT_EQ(calls[1].payload, expected);
    EXPECT_EQ(calls[1].length, 32u);
}

TEST_F(SingleRequestTest, AnExchangeThatNeverArrivedDoesNotReadAsTheLastSuccess) {
    gateway.AddNode(5);
    CPucDownloadProtocol& protocol = WithoutImage();
    gateway.faults = {TransportFault(CCB_CMD_WRITE_ENABLE, 2)};
    EXPECT_TRUE(protocol.WriteEnable());
    EXPECT_FALSE(protocol.WriteEnable());
    EXPECT_EQ(protocol.reply.status, 0xFFFFFFFFu);
}

TEST_F(SingleRequestTest, StatusQueriesReadTheNodeStatusByte) {
    BootNode& node = gateway.AddNode(5);
    CPucDownloadProtocol& protocol = WithoutImage();
    uint8_t code = 0x42;
    EXPECT_TRUE(protocol.GetStatus());
    EXPECT_TRUE(protocol.GetStatusCode(&code));
    EXPECT_EQ(code, 0x42);  // untouched on success
    EXPECT_TRUE(protocol.GetStatusQuiet());
    EXPECT_EQ(console.Take(), "Status: OK\n");

    node.statusByte = 0x85;
    EXPECT_FALSE(protocol.GetStatus());
    EXPECT_FALSE(protocol.GetStatusCode(&code));
    EXPECT_EQ(code, 0x85);
    EXPECT_FALSE(protocol.GetStatusQuiet());
    EXPECT_EQ(console.Take(), "Status: Error: 0x85\n");

    gateway.faults = {MissingDataFault(CCB_CMD_GET_STATUS)};
    EXPECT_FALSE(protocol.GetStatus());
    EXPECT_FALSE(protocol.GetStatusCode(&code));
    EXPECT_EQ(code, 0xFF);
    EXPECT_EQ(console.Take(), "Status: ");

    gateway.faults = {TransportFault(CCB_CMD_GET_STATUS)};
    code = 0;
    EXPECT_FALSE(protocol.GetStatusCode(&code));
    EXPECT_EQ(code, 0xFF);
    EXPECT_EQ(console.Take(), "Error: Get status FAILED\n");
    for (const GatewayCall& call : gateway.calls) {
        EXPECT_EQ(call.capacity, 24);
    }
}

TEST_F(SingleRequestTest, BootCodeInfoUpperCasesTheVersionAndNotesTheExtendedBlock) {
    BootNode& node = gateway.AddNode(5, "v3a1");
    CPucDownloadProtocol& protocol = WithoutImage();
    EXPECT_TRUE(protocol.GetBootCodeInfo());
    EXPECT_STREQ(protocol.bootCodeVersion, "V3A1");
    EXPECT_EQ(protocol.extendedInfoSupported, 0u);
    EXPECT_EQ(console.Take(), "Boot code version: V3A1 Application board hardware ID: 0x11\n");

    node.version = "2015";
    EXPECT_TRUE(protocol.GetBootCodeInfoQuiet());
    EXPECT_STREQ(protocol.bootCodeVersion, "2015");
    EXPECT_EQ(protocol.extendedInfoSupported, 1u);
    node.version = "V1.0";
    EXPECT_TRUE(protocol.GetBootCodeInfoQuiet());
    EXPECT_EQ(protocol.extendedInfoSupported, 1u);  // never cleared by a later read
    EXPECT_EQ(console.Take(), "");

    gateway.faults = {TransportFault(CCB_CMD_GET_INFO, 1), StatusFault(CCB_CMD_GET_INFO, 101, 2)};
    EXPECT_FALSE(protocol.GetBootCodeInfo());
    EXPECT_FALSE(protocol.GetBootCodeInfo());
    EXPECT_EQ(console.Take(), "Error in TCP/IP communication\n");
}

TEST_F(SingleRequestTest, HardwareNameIsTheRawInformationReply) {
    gateway.AddNode(5).identification = "HT-CTRL";
    CPucDownloadProtocol& protocol = WithoutImage(MODE_HT_PDO);
    const uint8_t* name = protocol.GetHardwareName();
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(name), "HT-CTRL");
    gateway.faults = {StatusFault(CCB_CMD_GET_INFO, 101)};
    EXPECT_EQ(protocol.GetHardwareName(), nullptr);
}

TEST_F(SingleRequestTest, ControllerSelectionPicksTheVariantByMode) {
    for (auto [mode, command] : {std::pair{MODE_PUC, CCB_CMD_SELECT_VARIANT_1},
                                 {MODE_HT, CCB_CMD_SELECT_VARIANT_2},
                                 {MODE_HT_PDO, CCB_CMD_SELECT_VARIANT_2}}) {
        gateway.calls.clear();
        WithImage(mode, {{10, 0x11}}).DnlContSelection();
        ASSERT_EQ(gateway.calls.size(), 1u);
        EXPECT_EQ(gateway.calls[0].command, command);
        EXPECT_EQ(gateway.calls[0].payload.size(), 17u);
        EXPECT_EQ(gateway.calls[0].payload[1], 5);
    }
}

TEST_F(SingleRequestTest, ABadImageFailsEveryRequestSilently) {
    const std::string path = dir.File("bad.hex");
    WriteFile(path, ":0000000G\n");
    image = std::make_unique<CProgramImage>(1, 5, path.c_str(), MODE_PUC, 0);
    console.Take();
    CPucDownloadProtocol protocol(&gateway, image.get(), 5, MODE_PUC);
    EXPECT_FALSE(protocol.DownloadPuc(-1));
    EXPECT_EQ(console.Take(), "Error: Bad program file\n");
    EXPECT_EQ(gateway.trace, std::vector<std::string>{"open 5"});
}

TEST_F(SingleRequestTest, SelectBootNodeJudgesOnlyTheInformationReply) {
    gateway.AddNode(9);
    CPucDownloadProtocol& protocol = WithoutImage();
    gateway.faults = {StatusFault(CCB_CMD_CONFIGURE, 101)};
    EXPECT_TRUE(protocol.SelectBootNode(9, 0));
    EXPECT_FALSE(protocol.SelectBootNode(8, 0));
    EXPECT_EQ(console.Take(),
              "Boot code version: V3.0 Application board hardware ID: 0x11\n"
              "PUC is not in BOOT code, or there is no connection with it\n"
              "Check PUC or try other nodeID!\n");
    const auto configure = gateway.CallsOf(CCB_CMD_CONFIGURE);
    ASSERT_EQ(configure.size(), 2u);
    // Node 8, a 60 ms reply wait, identifiers 0x180 and 0x200; the gateway gets 2 ms.
    const std::vector<uint8_t> expected = {0, 8, 0, 0, 0, 0, 0, 0, 0, 60, 0, 0, 0, 0x80, 1, 0, 2};
    EXPECT_EQ(configure[1].payload, expected);
    EXPECT_EQ(configure[1].timeoutMs, 2u);
}

}  // namespace
}  // namespace orv::test
