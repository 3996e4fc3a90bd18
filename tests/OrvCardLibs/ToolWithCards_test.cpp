// The tool as a process with the card libraries: the runs that cannot go through a card.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "support/HexWriter.h"
#include "support/SimProcess.h"
#include "support/TestFiles.h"
#include "support/ToolRun.h"

namespace orv::test {
namespace {

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
    EXPECT_EQ(r.exitCode, 255) << r.out;
    EXPECT_THAT(r.out, testing::HasSubstr("BusId: 0 NodeId: 5 HW: HT-0001\n"));
    EXPECT_THAT(r.out, testing::HasSubstr("Dnl. initialization 2: FAILED\n"));
    EXPECT_THAT(r.out, testing::EndsWith("Download failed!"));
    EXPECT_FALSE(std::filesystem::exists(dir.File("FLASH.LOG")));
}

}  // namespace
}  // namespace orv::test
