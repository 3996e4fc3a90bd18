#include <algorithm>
#include <cstring>

#include "ProtocolFixture.h"
#include "transport/GatewayCodes.h"

namespace orv::test {
namespace {

using Trace = std::vector<std::string>;

class ReadBackTest : public ProtocolTest {
  protected:
    // Node 5 holding what the image of sub-blocks 10 (0x5000) and 36 (0x12000) holds.
    BootNode& Prepare() {
        BootNode& node = gateway.AddNode(5);
        gateway.addressed = 5;
        WithImage(MODE_PUC, {{10, 0x11}, {36, 0x22}});
        std::memcpy(node.memory.data(), image->data, CProgramImage::kImageSize);
        console.Take();
        return node;
    }
    long Reads() const { return static_cast<long>(gateway.CallsOf(CCB_CMD_READ_CODE).size()); }
    std::string Dump(const char* extension) const { return ReadFile(dir.File("prog") + extension); }
};

constexpr const char* kClosing =
    "Abort download DONE\nJump to application DONE\nFinalize downloading DONE\n";

TEST_F(ReadBackTest, AMatchingVerificationReadsEveryUsedSubblockAndClosesTheDownload) {
    Prepare();
    EXPECT_TRUE(protocol->VerifyPuc());
    EXPECT_EQ(Reads(), 512);
    EXPECT_EQ(gateway.trace[3], "204 0:5000");
    EXPECT_EQ(gateway.trace[4], "204 0:5008");
    EXPECT_EQ(gateway.trace[3 + 256], "204 6:2000");
    EXPECT_EQ(Trace(gateway.trace.end() - 4, gateway.trace.end()),
              (Trace{"202", "205", "206", "reset"}));
    EXPECT_EQ(console.Take(),
              std::string("Dnl. initialization: DONE\n"
                          "Uploading subblock starting at 0x5000 Checking... Ok.\n"
                          "Uploading subblock starting at 0x12000 Checking... Ok.\n") +
                  kClosing);
    EXPECT_EQ(Dump(".ori"), std::string(reinterpret_cast<char*>(image->data), 0x20000));
    EXPECT_EQ(Dump(".res"), std::string(reinterpret_cast<char*>(image->readBack), 0x20000));
    EXPECT_EQ(Dump(".res").substr(0x12000, 2048), std::string(2048, '\x22'));
}

TEST_F(ReadBackTest, AMismatchStopsAtItsSubblockAndStillClosesTheDownload) {
    BootNode& node = Prepare();
    node.memory[0x57FF] = 0;
    EXPECT_FALSE(protocol->VerifyPuc());
    EXPECT_EQ(Reads(), 256);
    EXPECT_EQ(console.Take(),
              std::string("Dnl. initialization: DONE\n"
                          "Uploading subblock starting at 0x5000 Checking... Failed!\n") +
                  kClosing);
    // The read-back dump shows what was read, and the fill value where nothing was.
    EXPECT_EQ(Dump(".res")[0x57FF], '\0');
    EXPECT_EQ(Dump(".res").substr(0x12000, 2048), std::string(2048, '\xFF'));
}

TEST_F(ReadBackTest, AFailedReadEndsTheSubblockWithoutAMessage) {
    Prepare();
    gateway.faults = {MissingDataFault(CCB_CMD_READ_CODE, 3)};
    EXPECT_FALSE(protocol->VerifyPuc());
    EXPECT_EQ(Reads(), 3);
    EXPECT_EQ(console.Take(), std::string("Dnl. initialization: DONE\n"
                                          "Uploading subblock starting at 0x5000 ") +
                                  kClosing);
}

TEST_F(ReadBackTest, AFailedOpeningLeavesOnlyTheImageDump) {
    Prepare();
    gateway.faults = {StatusFault(CCB_CMD_BOOT_INIT, 101)};
    EXPECT_FALSE(protocol->VerifyPuc());
    EXPECT_EQ(gateway.trace, (Trace{"open 5", "212", "200 node 5"}));
    EXPECT_EQ(Dump(".ori").size(), 0x20000u);
    EXPECT_EQ(Dump(".res"), "");
}

TEST_F(ReadBackTest, UploadWrapsTheAddressButNotTheReadBackOffset) {
    BootNode& node = Prepare();
    node.memory[0x1FFFF] = 0x77;  // the last byte of page 6
    node.memory[0x0000] = 0x66;
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
    BootNode& node = Prepare();
    const uint8_t cell[8] = {0xA5, 0x00, 0x12, 0x0F, 1, 2, 3, 4};
    std::memcpy(node.memory.data() + 0x14000, cell, sizeof cell);
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
    CPucDownloadProtocol ht(&gateway, nullptr, 5, MODE_HT);
    EXPECT_FALSE(ht.DebugController(0x4000, 0, 1, out));
    EXPECT_EQ(gateway.calls.size(), calls);
    EXPECT_EQ(console.Take(), "");
}

}  // namespace
}  // namespace orv::test
