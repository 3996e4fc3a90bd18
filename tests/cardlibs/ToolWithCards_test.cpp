// The tool as a process with the card libraries: where it finds them, what it says without
// them, and the runs that cannot go through a card.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/HexWriter.h"
#include "support/SimProcess.h"
#include "support/TestFiles.h"
#include "support/ToolRun.h"

namespace orv::test {
namespace {

using testing::EndsWith;
using testing::HasSubstr;
using testing::StartsWith;

constexpr int kExitFailure = 255;

const struct Card {
    const char* argument;
    const char* sharedObject;
    const char* missingMessage;  // what the driver prints when it finds no library
} kCards[] = {
    {"NICAN", "libnican.so", "ERROR: Can not load nican.dll library\n"},
    {"USBLIGHT", "libcanapi.so", ""},
};

TEST(ToolWithCards, FindsItsLibraryBesideItselfOrThroughTheLinkerPath) {
    for (const Card& card : kCards) {
        // Nowhere, or beside the tool: the end-to-end suite finds it through the linker path.
        for (const std::string placed : {"", card.sharedObject}) {
            SCOPED_TRACE(std::string(card.argument) + " " + placed);
            TempDir dir;
            ToolRunOptions options;
            options.program = dir.File("OrvFlashPuc");
            std::filesystem::copy_file(ORV_FLASH_PUC_BIN, options.program);
            if (!placed.empty()) {
                std::filesystem::copy_file(std::string(ORV_CARDLIBS_DIR) + "/" + card.sharedObject,
                                           dir.File(placed));
            }
            options.workDir = dir.Path();
            options.timeoutMs = 30000;
            options.env = {{"ORV_CAN_LINK", ""}, {"LD_LIBRARY_PATH", ""}};
            const ToolResult r = RunTool({card.argument, "0", "GetInfoPUC", "12"}, options);

            EXPECT_EQ(r.exitCode, kExitFailure);
            EXPECT_THAT(r.out, EndsWith("Getting PUC BOOT info failed!"));
            // Once loaded, the library itself says that it has no link to carry frames.
            EXPECT_THAT(r.out, StartsWith(std::string("CAN card based communication\n") +
                                          (placed.empty() ? card.missingMessage : "") +
                                          "Please wait... reading PUC INFO block\n"));
            EXPECT_EQ(r.err.find("ORV_CAN_LINK names no CAN link") != std::string::npos,
                      !placed.empty());
        }
    }
}

// Raw frames have no way through a card, whichever it is, so an HT download over PDOs fails at
// its second initialisation step, cleaned up and in bounded time. The run goes through the boot
// loader's pauses, so it takes one card and a one-subblock image.
TEST(ToolWithCards, AnHtDownloadOverPdosFailsSoundly) {
    SimProcess sim({"--ht", "5", "--bridge", "0"});
    TempDir dir;
    HexWriter().Bytes(0x01010000, {0x5A}).EndOfFile().Save(dir.File("ht.hex"));
    WriteFile(dir.File("list.txt"), "HT-0001\tht.hex\t0x01010000\n");
    ToolRunOptions options;
    options.workDir = dir.Path();
    options.env = {
        {"LD_LIBRARY_PATH", ORV_CARDLIBS_DIR},
        {"ORV_CAN_LINK", "socketcand:127.0.0.1:" + std::to_string(sim.BridgePort()) + "/can0"}};
    const ToolResult r = RunTool({"NICAN", "0", "DnlHTpdo", "5", "list.txt"}, options);

    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, kExitFailure) << r.out;
    EXPECT_THAT(r.out, HasSubstr("BusId: 0 NodeId: 5 HW: HT-0001\n"));
    EXPECT_THAT(r.out, HasSubstr("Dnl. initialization 2: FAILED\n"));
    EXPECT_THAT(r.out, EndsWith("Download failed!"));
    EXPECT_FALSE(std::filesystem::exists(dir.File("FLASH.LOG")));
}

}  // namespace
}  // namespace orv::test
