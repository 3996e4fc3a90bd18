#include <algorithm>
#include <cstdio>
#include <cstring>

#include "support/NodeGateway.h"
#include "transport/GatewayRecords.h"

namespace orv::test {
namespace {

class DownloadPucTest : public NodeGatewayTest {
  protected:
    // Node 5 in boot mode with a valid application (checksum 0x1234) and an erased extended
    // block; an image with sub-blocks 10 (0x5000) and 36 (page 6, 0x2000).
    BootNode& Prepare(const std::string& version,
                      std::vector<std::pair<uint16_t, uint8_t>> blocks = {{10, 0x11}, {36, 0x22}}) {
        gateway = NodeGateway();
        BootNode& node = gateway.AddNode(5, version);
        const uint8_t head[6] = {0xA5, 0xA5, 0x12, 0x34, 0x50, 0x00};
        std::memcpy(node.memory.data() + 0x4000, head, sizeof head);
        WithImage(MODE_PUC, blocks);
        std::strcpy(image->fileDate, "01.02.24");
        std::strcpy(image->loadDate, "03.04.25");
        console.Take();
        return node;
    }
};

// infoBlock: the boot code keeps the extended block; written: it accepted the writes.
Trace ExpectedTrace(bool compatibilityCheck, bool infoBlock, bool written, bool subblocks = true) {
    Trace trace = {"open 5", "212", "200 node 5", "207", "208", "204 0:4000"};
    for (int address = 0x4010; address <= 0x4048; address += 8) {
        char read[16];
        std::snprintf(read, sizeof read, "204 0:%04X", address);
        trace.push_back(read);
    }
    trace.push_back("207");
    if (compatibilityCheck)
        trace.push_back("209");
    if (subblocks)
        trace.insert(trace.end(), {"201 0:5000", "207", "201 6:2000", "207"});
    if (written) {
        trace.insert(trace.end(), {"215 95 10 40 70 72 6F 67 2E", "215 93 15 40 68 65 78",
                                   "215 95 20 40 30 31 2E 30 32", "215 93 25 40 2E 32 34",
                                   "215 95 28 40 30 33 2E 30 34", "215 93 2D 40 2E 32 35",
                                   "215 94 30 40 00 00 00 00", "215 91 34 40 FF"});
    }
    trace.push_back("203");
    if (infoBlock)
        trace.push_back("207");
    trace.insert(trace.end(), {"210", "sleep 12000", "207", "205", "sleep 1000", "206", "reset"});
    return trace;
}

std::string ExpectedConsole(const std::string& version, bool compatibilityCheck, bool infoBlock,
                            bool written, const std::string& sameChecksum = "") {
    std::string text = "Dnl. initialization: DONE\nStatus: OK\nBoot code version: " + version +
                       " Application board hardware ID: 0x11\n"
                       "FLASH memory contains valid application flag (0xA5A5)\n"
                       "App file check sum: 0x1234\nApp entry address is 0x5000\n";
    if (version[0] >= '2') {
        text +=
            "Chip content:\n\tFile Version    : 0xFFFFFFFF\n"
            "\tSoft. CAN ID    : 0xFF - not activated\n";
    }
    text += sameChecksum + "Status: OK\nTYL 4.5.0.1178: BOOT-code compatibility validation.\n";
    if (compatibilityCheck) {
        text +=
            "This version of the BOOT-code supports a client/firmware compatibility check.\n"
            "BOOT-code compatibility validation DONE.\n";
    }
    text +=
        "Subblock starting at 0x5000 ... SENT\nStatus: OK\n"
        "Subblock starting at 0x12000 ... SENT\nStatus: OK\n";
    if (infoBlock) {
        text += written ? "SendInfoBlockData DONE\n"
                        : "SetBytes - not supported operaion with this version of BOOT code\n";
    }
    return text + (infoBlock ? "Write enable DONE\nStatus: OK\n" : "Write enable DONE\n") +
           "ProgramSubblock DONE\nStatus: OK\nJump to application DONE\nsleeping...\n"
           "Finalize downloading DONE\n";
}

TEST_F(DownloadPucTest, TheBootCodeVersionDecidesCompatibilityCheckAndInformationBlock) {
    struct Case {
        std::string version;
        bool compatibilityCheck, infoBlock, written, sameChecksum = false;
    };
    // A boot code before version 2 refuses the writes, and the download goes on; so does one
    // whose application has the checksum of the file.
    for (const Case& c : {Case{"V3.1", false, false, false},
                          {"1.00", false, true, false},
                          {"2.05", false, true, true},
                          {"3.10", true, true, true},
                          {"V3.1", false, false, false, true}}) {
        SCOPED_TRACE(c.version);
        BootNode& node = Prepare(c.version);
        node.memory[0x4002] = c.sameChecksum ? 0x98 : 0x12;  // 2048 * (0x11 + 0x22) = 0x19800
        node.memory[0x4003] = c.sameChecksum ? 0x00 : 0x34;
        EXPECT_TRUE(protocol->DownloadPuc(-1));
        EXPECT_EQ(gateway.trace, ExpectedTrace(c.compatibilityCheck, c.infoBlock, c.written));
        std::string text = ExpectedConsole(
            c.version, c.compatibilityCheck, c.infoBlock, c.written,
            c.sameChecksum ? "The application being flashed has the same CS as the application "
                             "in chip.\n"
                           : "");
        EXPECT_EQ(console.Take(),
                  c.sameChecksum ? text.replace(text.find("0x1234"), 6, "0x9800") : text);
        EXPECT_EQ(0, std::memcmp(node.memory.data() + 0x12000, image->data + 0x12000, 2048));
        if (c.written) {
            EXPECT_EQ(0, std::memcmp(node.memory.data() + 0x4010, "prog.hex\xFF", 9));
            EXPECT_EQ(0, std::memcmp(node.memory.data() + 0x4020, "01.02.2403.04.25", 16));
        }
    }
    // Sub-block 0 belongs to the boot code and is not sent: only the information block is.
    Prepare("3.10", {{0, 0x11}});
    EXPECT_TRUE(protocol->DownloadPuc(-1));
    EXPECT_EQ(gateway.trace, ExpectedTrace(true, true, true, false));
}

TEST_F(DownloadPucTest, AFailingStepEndsTheDownloadThere) {
    struct Case {
        Fault fault;
        std::string lastStep, consoleEnd;
    };
    // One row per early exit of the download; the other steps of each exit share its branch.
    const Case cases[] = {
        {TransportFault(CCB_CMD_OPEN), "open 5", ""},
        {MissingDataFault(CCB_CMD_GET_STATUS, 1), "207", "Status: "},
        {TransportFault(CCB_CMD_VALIDATE), "209",
         "Error: BOOT-code compatibility validation FAILED.\n"},
        {StatusFault(CCB_CMD_WRITE_SUBBLOCK, 101, 2), "201 6:2000",
         "Subblock starting at 0x12000 ... FAILED\n"},
        {StatusFault(CCB_CMD_PROGRAM_SUBBLOCK, 101), "210", "ProgramSubblock FAILED\n"},
        {StatusFault(CCB_CMD_JUMP_TO_APP, 101), "205", "Error: Jump to application FAILED\n"},
        {StatusFault(CCB_CMD_FINALIZE, 101), "206", "Error: Finalize downloading FAILED\n"},
        // Neither the information block read nor its writes can stop a download.
        {StatusFault(CCB_CMD_READ_CODE, 101), "reset", "Finalize downloading DONE\n"},
        {StatusFault(CCB_CMD_SEND_DATA, 101), "reset", "Finalize downloading DONE\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lastStep + " " + c.consoleEnd);
        Prepare("3.10");
        gateway.faults = {c.fault};
        EXPECT_EQ(protocol->DownloadPuc(-1), c.lastStep == "reset");
        EXPECT_EQ(gateway.trace.back(), c.lastStep);
        const std::string text = console.Take();
        EXPECT_TRUE(text.ends_with(c.consoleEnd)) << text;
    }
}

TEST_F(DownloadPucTest, CancelConnectAndABadImageRunTheirFixedSteps) {
    Prepare("3.10");
    EXPECT_TRUE(protocol->ConnectForDownload());
    EXPECT_TRUE(protocol->CancelDownload());
    EXPECT_EQ(gateway.trace, (Trace{"open 5", "212", "sleep 2000", "207", "202", "206", "reset"}));
    EXPECT_EQ(console.Take(),
              "sleeping...\nStatus: OK\nAbort download DONE\nFinalize downloading DONE\n");

    gateway.trace.clear();
    WriteFile(dir.File("bad.hex"), ":0000000G\n");
    CProgramImage bad(1, 5, dir.File("bad.hex").c_str(), MODE_PUC, 0);
    console.Take();
    EXPECT_FALSE(CPucDownloadProtocol(&gateway, &bad, 5, MODE_PUC).DownloadPuc(-1));
    EXPECT_EQ(console.Take(), "Error: Bad program file\n");
    EXPECT_EQ(gateway.trace, Trace{"open 5"});
}

TEST_F(NodeGatewayTest, DownloadHtPausesLongEveryFifthSubblock) {
    gateway.AddNode(5);
    WithImage(MODE_HT, {{0, 0x11}, {1, 0x22}, {5, 0x33}});
    console.Take();
    EXPECT_TRUE(protocol->DownloadHt());
    Trace expected = {"open 5", "213", "sleep 2000", "200 node 5", "sleep 100", "207", "sleep 100"};
    std::string text =
        "sleeping...\nDnl. initialization: DONE\nsleeping...\nStatus: OK\nsleeping...\n";
    for (const auto& [address, pause] : {std::pair{"0000", 2000}, {"0800", 1000}, {"2800", 2000}}) {
        expected.insert(expected.end(),
                        {"203", "sleep 100", std::string("201 6:") + address, "sleep 100", "207",
                         "203", "sleep " + std::to_string(pause), "210"});
        text +=
            "Write enable DONE\nsleeping...\nSubblock starting at 0x1" + std::string(address) +
            " ... SENT\nsleeping...\nStatus: OK\nsleeping...\nWrite enable DONE\nsleeping...\n" +
            (pause == 2000 ? "sleeping long\n" : "") + "ProgramSubblock DONE\nsleeping...\n";
    }
    expected.insert(expected.end(), {"sleep 1000", "207", "sleep 1000", "203", "sleep 1000", "209",
                                     "sleep 1000", "207", "205", "sleep 1000", "206", "reset"});
    EXPECT_EQ(gateway.trace, expected);
    EXPECT_EQ(console.Take(), text +
                                  "sleeping...\nStatus: OK\nsleeping...\nWrite enable DONE\n"
                                  "sleeping...\nValidating descriptors DONE\nStatus: OK\n"
                                  "Jump to application DONE\nsleeping...\n"
                                  "Finalize downloading DONE\n");
}

// The trace without the raw frames and their 1 ms pauses.
Trace WithoutFrames(const Trace& trace) {
    Trace kept;
    std::copy_if(trace.begin(), trace.end(), std::back_inserter(kept), [](const std::string& line) {
        return line.rfind("raw", 0) != 0 && line != "sleep 1";
    });
    return kept;
}

class DownloadHtPdoTest : public NodeGatewayTest {
  protected:
    // Sub-block 33 of a PDO image: page 1, address 0x0800, 2048 bytes of 0x22 (checksum 0x1000).
    void SetUp() override {
        gateway.AddNode(5);
        gateway.addressed = 5;
        WithImage(MODE_HT_PDO, {{33, 0x22}});
        console.Take();
    }
};

constexpr const char* kInitialised = "Dnl. initialization: DONE\nDnl. initialization 2: DONE\n";
constexpr const char* kDownloaded =
    "sleeping...\nWrite enable DONE\nSubblock starting at 0x10800 ... SENT\nWrite enable DONE\n"
    "ProgramSubblock DONE\nWrite enable DONE\nValidating descriptors DONE\n"
    "Jump to application DONE\nFinalize downloading DONE\n";

TEST_F(DownloadHtPdoTest, ASubblockTravelsAsOneHeaderAnd293DataFrames) {
    EXPECT_TRUE(protocol->DownloadHtPdo());
    EXPECT_EQ(WithoutFrames(gateway.trace),
              (Trace{"200 node 5", "207", "sleep 100", "203", "sleep 10", "sleep 10", "207", "203",
                     "210", "207", "203", "209", "sleep 1000", "207", "sleep 5000", "205",
                     "sleep 1000", "206", "reset"}));
    EXPECT_EQ(std::count(gateway.trace.begin(), gateway.trace.end(), "sleep 1"), 294);
    std::vector<std::vector<uint8_t>> frames;
    for (const GatewayCall& call : gateway.CallsOf(CCB_CMD_SEND_FRAME)) {
        CanFrameRequest frame;
        ASSERT_EQ(call.payload.size(), sizeof frame);
        std::memcpy(&frame, call.payload.data(), sizeof frame);
        EXPECT_EQ(call.capacity, 12);
        EXPECT_EQ(call.timeoutMs, 200000u);
        EXPECT_EQ(frame.nodeId, 5);
        EXPECT_EQ(static_cast<int>(frame.baseId), 0x200);
        EXPECT_EQ(frame.dataLengthCode, frames.empty() ? 1 : 8);
        EXPECT_TRUE(call.replyCleared);
        frames.emplace_back(frame.data, frame.data + 8);
    }
    ASSERT_EQ(frames.size(), 3u + 294u);
    // Address low, address high, page in the header: not the descriptor's own order.
    EXPECT_EQ(
        std::vector(frames.begin(), frames.begin() + 5),
        (std::vector<std::vector<uint8_t>>{{0xFF, 0, 0, 0, 0, 0, 0, 0},
                                           {0x00, 0x00, 0x08, 0x00, 0x00, 0x08, 0, 0},
                                           {0x01, 0x00, 0x00, 0x10, 0x00, 0x08, 0, 0},
                                           {0x10, 0x00, 0x08, 0x01, 0x00, 0x08, 0x00, 0x10},
                                           {0x27, 0x22, 0x22, 0x22, 0x22, 0x22, 0x22, 0x22}}));
    EXPECT_EQ(frames[5][0], 0x2F);
    EXPECT_EQ(frames.back(),
              (std::vector<uint8_t>{0x24, 0x22, 0x22, 0x22, 0x22, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(console.Take(), std::string(kInitialised) + kDownloaded);
}

TEST_F(DownloadHtPdoTest, TheStatusWaitRetriesTenTimesASecondApart) {
    gateway.nodes[0].statusByte = 3;
    EXPECT_FALSE(protocol->DownloadHtPdo());
    Trace expected = {"200 node 5", "207"};
    for (int retry = 0; retry < 10; ++retry)
        expected.insert(expected.end(), {"sleep 1000", "207"});
    EXPECT_EQ(WithoutFrames(gateway.trace), expected);
    EXPECT_EQ(console.Take(), std::string(kInitialised) + "Status: Error 0x3\n");

    // A wait that succeeds on a retry says so; a failed exchange reads as status 0xFF.
    gateway.nodes[0].statusByte = 0;
    gateway.faults = {MissingDataFault(CCB_CMD_GET_STATUS, 1),
                      StatusFault(CCB_CMD_GET_STATUS, 101, 2)};
    EXPECT_TRUE(protocol->DownloadHtPdo());
    EXPECT_EQ(console.Take(),
              std::string(kInitialised) + "Error: Get status FAILED\nStatus: OK\n" + kDownloaded);
}

TEST_F(DownloadHtPdoTest, AFailingDataFrameFailsTheSubblock) {
    protocol->currentSubblock = 33;
    gateway.faults = {TransportFault(CCB_CMD_SEND_FRAME, 3)};
    EXPECT_FALSE(protocol->SendSubblockPdo());
    EXPECT_EQ(gateway.CallsOf(CCB_CMD_SEND_FRAME).size(), 3u);
    EXPECT_EQ(console.Take(), "Subblock starting at 0x10800 ... FAILED\n");
}

TEST_F(DownloadHtPdoTest, OnlyTheFirstRawInitialisationFrameIsJudged) {
    struct Case {
        int step;
        Fault fault;
        bool result;
        std::string text;
    };
    // A transport that writes no reply must not leave success behind from an earlier frame.
    for (const Case& c :
         {Case{2, Fault{}, true, "Dnl. initialization 2: DONE\n"},
          {2, MissingDataFault(CCB_CMD_SEND_FRAME), false, "Dnl. initialization 2: FAILED\n"},
          {2, TransportFault(CCB_CMD_SEND_FRAME), false, "Error in TCP/IP communication\n"},
          {4, MissingDataFault(CCB_CMD_SEND_FRAME), true, ""},
          {4, TransportFault(CCB_CMD_SEND_FRAME), false, "Error in TCP/IP communication\n"},
          {5, TransportFault(CCB_CMD_SEND_FRAME), true, ""}}) {
        SCOPED_TRACE(c.step);
        gateway.faults.clear();
        protocol->DnlInitialization2(2);
        console.Take();
        gateway.faults = {c.fault};
        EXPECT_EQ(protocol->DnlInitialization2(c.step), c.result);
        EXPECT_EQ(console.Take(), c.text);
    }
    for (const GatewayCall& call : gateway.CallsOf(CCB_CMD_SEND_FRAME))
        EXPECT_TRUE(call.replyCleared);
}

class ReadBackTest : public NodeGatewayTest {
  protected:
    // Node 5 holding what the image of sub-blocks 10 (0x5000) and 36 (0x12000) holds.
    void SetUp() override {
        node = &gateway.AddNode(5);
        gateway.addressed = 5;
        WithImage(MODE_PUC, {{10, 0x11}, {36, 0x22}});
        std::memcpy(node->memory.data(), image->data, CProgramImage::kImageSize);
        console.Take();
    }
    size_t Reads() const { return gateway.CallsOf(CCB_CMD_READ_CODE).size(); }
    std::string Dump(const char* extension) const { return ReadFile(dir.File("prog") + extension); }
    BootNode* node = nullptr;
};

const std::string kOpened = "Dnl. initialization: DONE\nUploading subblock starting at 0x5000 ";
const std::string kClosing =
    "Abort download DONE\nJump to application DONE\nFinalize downloading DONE\n";

// A matching verification, its texts and its dumps are shown by the end-to-end suite.
TEST_F(ReadBackTest, AMismatchOrFailedReadStopsAtItsSubblockAndStillClosesTheDownload) {
    node->memory[0x57FF] = 0;
    EXPECT_FALSE(protocol->VerifyPuc());
    EXPECT_EQ(Reads(), 256u);
    EXPECT_EQ(console.Take(), kOpened + "Checking... Failed!\n" + kClosing);
    // The read-back dump shows what was read, and the fill value where nothing was.
    EXPECT_EQ(Dump(".res")[0x57FF], '\0');
    EXPECT_EQ(Dump(".res").substr(0x12000, 2048), std::string(2048, '\xFF'));

    gateway.calls.clear();
    node->inBootMode = true;
    gateway.faults = {MissingDataFault(CCB_CMD_READ_CODE, 3)};
    EXPECT_FALSE(protocol->VerifyPuc());
    EXPECT_EQ(Reads(), 3u);
    EXPECT_EQ(console.Take(), kOpened + kClosing);
}

TEST_F(ReadBackTest, AFailedOpeningLeavesOnlyTheImageDump) {
    gateway.faults = {StatusFault(CCB_CMD_BOOT_INIT, 101)};
    EXPECT_FALSE(protocol->VerifyPuc());
    EXPECT_EQ(gateway.trace, (Trace{"open 5", "212", "200 node 5"}));
    EXPECT_EQ(Dump(".ori").size(), 0x20000u);
    EXPECT_EQ(Dump(".res"), "");
}

TEST_F(ReadBackTest, UploadWrapsTheAddressButNotTheReadBackOffset) {
    node->memory[0x1FFFF] = 0x77;  // the last byte of page 6
    node->memory[0x0000] = 0x66;
    EXPECT_TRUE(protocol->UploadSubblock(0xF800, 1, false, false));
    EXPECT_EQ(image->readBack[0x1FFFF], 0x77);
    EXPECT_EQ(gateway.CallsOf(CCB_CMD_READ_CODE)[0].payload,
              (std::vector<uint8_t>{0x60, 0, 0x00, 0xF8, 6, 0, 0, 0}));
    EXPECT_TRUE(protocol->UploadSubblock(0xFC00, 0, false, false));
    EXPECT_EQ(gateway.trace.back(), "204 0:03F8");
    EXPECT_EQ(image->readBack[0x10000], 0x66);
    EXPECT_EQ(console.Take(), "");
}

TEST_F(ReadBackTest, DebugControllerPrintsThePageArgumentAsPassed) {
    const uint8_t cell[8] = {0xA5, 0x00, 0x12, 0x0F, 1, 2, 3, 4};
    std::memcpy(node->memory.data() + 0x14000, cell, sizeof cell);
    uint8_t out[8] = {};
    EXPECT_TRUE(protocol->DebugController(0x4000, 1, 1, out));
    EXPECT_EQ(0, std::memcmp(out, cell, sizeof cell));
    EXPECT_EQ(gateway.trace.back(), "204 6:4000");
    EXPECT_EQ(console.Take(),
              "CODE: (Address:0x4000, Bank:1, Data: 0xA5 0x0 0x12 0xF 0x1 0x2 0x3 0x4 )\n");
    gateway.faults = {StatusFault(CCB_CMD_READ_CODE, 101)};
    EXPECT_FALSE(protocol->DebugController(0x4000, 0, 1, nullptr));
    EXPECT_EQ(console.Take(), "Error: Debug controller FAILED\n");
    // HT boards are never asked.
    const size_t calls = gateway.calls.size();
    EXPECT_FALSE(
        CPucDownloadProtocol(&gateway, nullptr, 5, MODE_HT).DebugController(0x4000, 0, 1, out));
    EXPECT_EQ(gateway.calls.size(), calls);
    EXPECT_EQ(console.Take(), "");
}

}  // namespace
}  // namespace orv::test
