#include <cstring>

#include "support/NodeGateway.h"
#include "transport/GatewayRecords.h"

namespace orv::test {
namespace {

using DownloadPucTest = NodeGatewayTest;

// check: compatibility checked; info: an extended block kept; written: the writes accepted.
std::string ExpectedSteps(bool check, bool info, bool written, bool subblocks = true) {
    std::string steps =
        "open 5, 212, 200 node 5, 207, 208, 204 0:4000, 204 0:4010, 204 0:4018, 204 0:4020, "
        "204 0:4028, 204 0:4030, 204 0:4038, 204 0:4040, 204 0:4048";
    steps += std::string(", 207") + (check ? ", 209" : "") +
             (subblocks ? ", 201 0:5000, 207, 201 6:2000, 207" : "");
    if (written) {
        steps +=
            ", 215 95 10 40 70 72 6F 67 2E, 215 93 15 40 68 65 78, 215 95 20 40 30 31 2E 30 32, "
            "215 93 25 40 2E 32 34, 215 95 28 40 30 33 2E 30 34, 215 93 2D 40 2E 32 35, "
            "215 94 30 40 00 00 00 00, 215 91 34 40 FF";
    }
    return steps + ", 203" + (info ? ", 207" : "") +
           ", 210, sleep 12000, 207, 205, sleep 1000, 206, reset";
}

// A boot code before version 2 refuses the writes, and the download goes on; so does one whose
// application has the checksum of the file (0xFF08, the sum of its two sub-blocks).
TEST_F(DownloadPucTest, TheBootCodeVersionDecidesCompatibilityCheckAndInformationBlock) {
    const std::string checked =
        "BOOT-code compatibility validation.\nThis version of the BOOT-"
        "code supports a client/firmware compatibility check.\n";
    const std::string same = "has the same CS as the application in chip.\n";
    struct Case {
        std::string version, checksum;
        bool check, info, written;
        std::string text;  // between the last sub-block and the programming
    };
    for (const Case& c : {Case{"V3.1", "1234", false, false, false, "Write enable DONE\n"},
                          {"1.00", "1234", false, true, false,
                           "SetBytes - not supported operaion with this version of BOOT code\n"
                           "Write enable DONE\nStatus: OK\n"},
                          {"3.10", "1234", true, true, true,
                           "SendInfoBlockData DONE\nWrite enable DONE\nStatus: OK\n"},
                          {"V3.1", "FF08", false, false, false, "Write enable DONE\n"}}) {
        SCOPED_TRACE(c.version);
        BootNode& node = PreparePuc(c.version);
        node.memory[0x4002] = static_cast<uint8_t>(std::stoul(c.checksum, nullptr, 16) >> 8);
        node.memory[0x4003] = static_cast<uint8_t>(std::stoul(c.checksum, nullptr, 16));
        EXPECT_TRUE(protocol->DownloadPuc(-1));
        EXPECT_EQ(gateway.Steps(), ExpectedSteps(c.check, c.info, c.written));
        const std::string text = console.Take();
        EXPECT_NE(text.find("0x12000 ... SENT\nStatus: OK\n" + c.text + "ProgramSubblock"),
                  std::string::npos)
            << text;
        EXPECT_EQ(text.find(checked) != std::string::npos, c.check);
        EXPECT_EQ(text.find("sum: 0x" + c.checksum + "\n") != std::string::npos, true);
        EXPECT_EQ(text.find(same) != std::string::npos, c.checksum == "FF08");
        EXPECT_EQ(0, std::memcmp(node.memory.data() + 0x12000, image->data + 0x12000, 2048));
        EXPECT_EQ(0, std::memcmp(node.memory.data() + 0x4010,
                                 c.written ? "prog.hex\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"
                                             "01.02.2403.04.25"
                                           : std::string(32, '\xFF').c_str(),
                                 32));
    }
    // Sub-block 0 belongs to the boot code and is not sent: only the information block is.
    PreparePuc("3.10", {{0, 0x11}});
    EXPECT_TRUE(protocol->DownloadPuc(-1));
    EXPECT_EQ(gateway.Steps(), ExpectedSteps(true, true, true, false));
}

// One row per early exit of the download; the other steps of each exit share its branch.
TEST_F(DownloadPucTest, AFailingStepEndsTheDownloadThere) {
    for (const auto& [fault, last, ending] : {
             std::tuple{TransportFault(CCB_CMD_OPEN), "open 5", ""},
             {StatusFault(CCB_CMD_GET_STATUS, 101, 1), "207", "Error: Get status FAILED\n"},
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
         }) {
        SCOPED_TRACE(last);
        PreparePuc("3.10");
        gateway.faults = {fault};
        EXPECT_EQ(protocol->DownloadPuc(-1), std::string(last) == "reset");
        EXPECT_EQ(gateway.trace.back(), last);
        EXPECT_TRUE(console.Take().ends_with(ending));
    }
}

TEST_F(NodeGatewayTest, DownloadHtPausesLongEveryFifthSubblock) {
    gateway.AddNode(5);
    WithImage(MODE_HT, {{0, 0x11}, {1, 0x22}, {5, 0x33}});
    console.Take();
    EXPECT_TRUE(protocol->DownloadHt());
    std::string steps = "open 5, 213, sleep 2000, 200 node 5, sleep 100, 207, sleep 100";
    for (const auto& [address, pause] : {std::pair{"0000", 2000}, {"0800", 1000}, {"2800", 2000}}) {
        steps += std::string(", 203, sleep 100, 201 6:") + address +
                 ", sleep 100, 207, 203, sleep " + std::to_string(pause) + ", 210";
    }
    EXPECT_EQ(gateway.Steps(), steps +
                                   ", sleep 1000, 207, sleep 1000, 203, sleep 1000, 209, "
                                   "sleep 1000, 207, 205, sleep 1000, 206, reset");
    // The messages of an HT download are shown end to end; the long pause says so.
    const std::string text = console.Take();
    const std::string programmed = "sleeping long\nProgramSubblock DONE\n";
    const size_t first = text.find(programmed), last = text.rfind(programmed);
    EXPECT_TRUE(first < last && text.find("long", first + 10) == last + 9) << text;
}

// Sub-block 33 of a PDO image 0x2345 above a 64 KiB boundary: page 2, address 0x2B45, checksum
// 0xFF84.
using DownloadHtPdoTest = NodeGatewayTest;
constexpr const char* kInitialised = "Dnl. initialization: DONE\nDnl. initialization 2: DONE\n";

TEST_F(DownloadHtPdoTest, ASubblockTravelsAsOneHeaderAnd293DataFrames) {
    gateway.AddNode(5);
    WithImage(MODE_HT_PDO, {{33, 0x22}}, 0x01012345);
    console.Take();
    EXPECT_TRUE(protocol->DownloadHtPdo());
    EXPECT_EQ(gateway.Steps(),
              "200 node 5, 207, sleep 100, 203, sleep 10, sleep 10, 207, 203, "
              "210, 207, 203, 209, sleep 1000, 207, sleep 5000, 205, sleep "
              "1000, 206, reset");
    EXPECT_EQ(std::count(gateway.trace.begin(), gateway.trace.end(), "sleep 1"), 294);
    std::string frames;  // the data bytes of each frame
    for (const GatewayCall& call : gateway.CallsOf(CCB_CMD_SEND_FRAME)) {
        CanFrameRequest frame;
        ASSERT_EQ(call.payload.size(), sizeof frame);
        std::memcpy(&frame, call.payload.data(), sizeof frame);
        EXPECT_TRUE(call.capacity == 12 && call.timeoutMs == 200000);
        EXPECT_TRUE(frame.nodeId == 5 && frame.baseId == 0x200);
        EXPECT_EQ(frame.dataLengthCode, frames.empty() ? 1 : 8);
        frames += HexBytes(frame.data, 8) + ",";
    }
    ASSERT_EQ(frames.size(), (3u + 294u) * 25);
    // Address low, address high, page in the header: not the descriptor's own order.
    EXPECT_EQ(
        frames.substr(0, 5 * 25 + 3),
        " FF 00 00 00 00 00 00 00, 00 45 2B 00 00 08 00 00, 01 00 84 FF 00 08 00 00, 10 45 2B "
        "02 00 08 84 FF, 27 22 23 24 25 26 27 28, 2F");
    EXPECT_TRUE(frames.ends_with(" 24 46 47 48 49 FF FF FF,"));
    EXPECT_EQ(
        console.Take(),
        std::string(kInitialised) +
            "sleeping...\nWrite enable DONE\nSubblock starting at 0x22B45 ... SENT\n"
            "Write enable DONE\nProgramSubblock DONE\nWrite enable DONE\n"
            "Validating descriptors DONE\nJump to application DONE\nFinalize downloading DONE\n");
}

TEST_F(DownloadHtPdoTest, TheStatusWaitRetriesTenTimesASecondApart) {
    gateway.AddNode(5).statusByte = 3;
    WithImage(MODE_HT_PDO, {{33, 0x22}});
    console.Take();
    EXPECT_FALSE(protocol->DownloadHtPdo());
    std::string steps = "200 node 5, 207";
    for (int retry = 0; retry < 10; ++retry)
        steps += ", sleep 1000, 207";
    EXPECT_EQ(gateway.Steps(), steps);
    EXPECT_EQ(console.Take(), std::string(kInitialised) + "Status: Error 0x3\n");
}

// A matching verification and its dumps are shown end to end.
TEST_F(NodeGatewayTest, AMismatchStopsTheVerificationAtItsSubblockAndStillClosesTheDownload) {
    BootNode& node = gateway.AddNode(5);
    WithImage(MODE_PUC, {{10, 0x11}, {36, 0x22}});
    node.memory.assign(image->data, image->data + CProgramImage::kImageSize);
    node.memory[0x57FF] = 0;
    console.Take();
    EXPECT_FALSE(protocol->VerifyPuc());
    EXPECT_EQ(gateway.CallsOf(CCB_CMD_READ_CODE).size(), 256u);
    EXPECT_EQ(
        console.Take(),
        "Dnl. initialization: DONE\nUploading subblock starting at 0x5000 Checking... Failed!\n"
        "Abort download DONE\nJump to application DONE\nFinalize downloading DONE\n");
}

}  // namespace
}  // namespace orv::test
