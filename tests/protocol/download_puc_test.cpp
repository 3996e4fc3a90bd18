#include <cstring>

#include "ProtocolFixture.h"
#include "transport/GatewayCodes.h"

namespace orv::test {
namespace {

using Trace = std::vector<std::string>;

class DownloadPucTest : public ProtocolTest {
  protected:
    // Node 5 in boot mode with a valid application (checksum 0x1234) and an erased extended
    // block; an image with sub-blocks 10 (0x5000) and 36 (page 6, 0x2000).
    BootNode& Prepare(const std::string& version,
                      std::vector<std::pair<uint16_t, uint8_t>> blocks = {{10, 0x11}, {36, 0x22}}) {
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
    for (int k = 0; k < 8; ++k) {
        char read[16];
        std::snprintf(read, sizeof read, "204 0:%04X", 0x4010 + 8 * k);
        trace.push_back(read);
    }
    trace.push_back("207");
    if (compatibilityCheck) {
        trace.push_back("209");
    }
    if (subblocks) {
        trace.insert(trace.end(), {"201 0:5000", "207", "201 6:2000", "207"});
    }
    if (written) {
        trace.insert(trace.end(), {"215 95 10 40 70 72 6F 67 2E", "215 93 15 40 68 65 78",
                                   "215 95 20 40 30 31 2E 30 32", "215 93 25 40 2E 32 34",
                                   "215 95 28 40 30 33 2E 30 34", "215 93 2D 40 2E 32 35",
                                   "215 94 30 40 00 00 00 00", "215 91 34 40 FF"});
    }
    trace.push_back("203");
    if (infoBlock) {
        trace.push_back("207");
    }
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
    text += infoBlock ? "Write enable DONE\nStatus: OK\n" : "Write enable DONE\n";
    return text +
           "ProgramSubblock DONE\nStatus: OK\nJump to application DONE\nsleeping...\n"
           "Finalize downloading DONE\n";
}

TEST_F(DownloadPucTest, TheBootCodeVersionDecidesCompatibilityCheckAndInformationBlock) {
    struct Case {
        std::string version;
        bool compatibilityCheck;
        bool infoBlock;
        bool written;
    };
    // A boot code before version 2 refuses the writes, and the download goes on.
    for (const Case& c : {Case{"V3.1", false, false, false},
                          {"1.00", false, true, false},
                          {"2.05", false, true, true},
                          {"3.10", true, true, true}}) {
        SCOPED_TRACE(c.version);
        gateway = TestGateway();
        BootNode& node = Prepare(c.version);
        EXPECT_TRUE(protocol->DownloadPuc(-1));
        EXPECT_EQ(gateway.trace, ExpectedTrace(c.compatibilityCheck, c.infoBlock, c.written));
        EXPECT_EQ(console.Take(),
                  ExpectedConsole(c.version, c.compatibilityCheck, c.infoBlock, c.written));
        EXPECT_EQ(0, std::memcmp(node.memory.data() + 0x12000, image->data + 0x12000, 2048));
        if (c.written) {
            EXPECT_EQ(0, std::memcmp(node.memory.data() + 0x4010, "prog.hex\xFF", 9));
            EXPECT_EQ(0, std::memcmp(node.memory.data() + 0x4020, "01.02.2403.04.25", 16));
        }
    }
}

TEST_F(DownloadPucTest, EqualChecksumsAreNotedAndTheDownloadGoesOn) {
    BootNode& node = Prepare("V3.1");
    node.memory[0x4002] = 0x98;  // 2048 * 0x11 + 2048 * 0x22, modulo 65536
    node.memory[0x4003] = 0x00;
    std::string expected = ExpectedConsole(
        "V3.1", false, false, false,
        "The application being flashed has the same CS as the application in chip.\n");
    expected.replace(expected.find("0x1234"), 6, "0x9800");
    EXPECT_TRUE(protocol->DownloadPuc(-1));
    EXPECT_EQ(console.Take(), expected);
}

TEST_F(DownloadPucTest, AnImageWithoutUsedSubblocksOnlyProgramsTheInformationBlock) {
    Prepare("3.10", {{0, 0x11}});  // sub-block 0 belongs to the boot code and is not sent
    EXPECT_TRUE(protocol->DownloadPuc(-1));
    EXPECT_EQ(gateway.trace, ExpectedTrace(true, true, true, false));
}

TEST_F(DownloadPucTest, AFailingStepEndsTheDownloadThere) {
    struct Case {
        const char* name;
        Fault fault;
        bool result;
        std::string lastStep;
        std::string consoleEnd;
    };
    const Case cases[] = {
        {"open", TransportFault(CCB_CMD_OPEN), false, "open 5", ""},
        {"selection", StatusFault(CCB_CMD_SELECT_VARIANT_1, 101), false, "212",
         "Dnl. CONT. SELECTION: FAILED\n"},
        {"initialization", StatusFault(CCB_CMD_BOOT_INIT, 104), false, "200 node 5",
         "Dnl. initialization: FAILED\n"},
        {"first status", MissingDataFault(CCB_CMD_GET_STATUS, 1), false, "207", "Status: "},
        {"info", TransportFault(CCB_CMD_GET_INFO), false, "208", "Error in TCP/IP communication\n"},
        {"second status", StatusFault(CCB_CMD_GET_STATUS, 101, 2), false, "207",
         "Error: Get status FAILED\n"},
        {"compatibility", TransportFault(CCB_CMD_VALIDATE), false, "209",
         "Error: BOOT-code compatibility validation FAILED.\n"},
        {"second sub-block", StatusFault(CCB_CMD_WRITE_SUBBLOCK, 101, 2), false, "201 6:2000",
         "Subblock starting at 0x12000 ... FAILED\n"},
        {"program", StatusFault(CCB_CMD_PROGRAM_SUBBLOCK, 101), false, "210",
         "ProgramSubblock FAILED\n"},
        {"jump", StatusFault(CCB_CMD_JUMP_TO_APP, 101), false, "205",
         "Error: Jump to application FAILED\n"},
        {"finalize", StatusFault(CCB_CMD_FINALIZE, 101), false, "206",
         "Error: Finalize downloading FAILED\n"},
        // Neither the information block read nor its writes can stop a download.
        {"info block read", StatusFault(CCB_CMD_READ_CODE, 101), true, "reset",
         "Finalize downloading DONE\n"},
        {"info block write", StatusFault(CCB_CMD_SEND_DATA, 101), true, "reset",
         "Finalize downloading DONE\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        gateway = TestGateway();
        Prepare("3.10");
        gateway.faults = {c.fault};
        EXPECT_EQ(protocol->DownloadPuc(-1), c.result);
        EXPECT_EQ(gateway.trace.back(), c.lastStep);
        const std::string text = console.Take();
        EXPECT_EQ(text.substr(text.size() - std::min(text.size(), c.consoleEnd.size())),
                  c.consoleEnd);
    }
}

TEST_F(DownloadPucTest, CancelAndConnectRunTheirFixedSteps) {
    Prepare("3.10");
    EXPECT_TRUE(protocol->ConnectForDownload());
    EXPECT_TRUE(protocol->CancelDownload());
    EXPECT_EQ(gateway.trace, (Trace{"open 5", "212", "sleep 2000", "207", "202", "206", "reset"}));
    EXPECT_EQ(console.Take(),
              "sleeping...\nStatus: OK\nAbort download DONE\nFinalize downloading DONE\n");
}

}  // namespace
}  // namespace orv::test
