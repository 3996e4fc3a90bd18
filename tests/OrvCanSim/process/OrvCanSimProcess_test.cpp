// OrvCanSim as a process: its command line and its end on a signal.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iterator>
#include <sstream>

#include "support/HexWriter.h"
#include "support/SimProcess.h"
#include "support/TestFiles.h"
#include "support/ToolRun.h"

namespace orv::test {
namespace {

using ::testing::HasSubstr;

TEST(OrvCanSimProcess, SigintEndsItCleanly) {
    SimProcess sim({"--puc", "12", "--gateway", "0:0"});
    EXPECT_EQ(sim.Stop(SIGINT), 0);
    EXPECT_THAT(sim.Log(), testing::AllOf(HasSubstr("SIGINT"), HasSubstr("ended")));
}

TEST(OrvCanSimProcess, BadArgumentsAreRefusedWithAReason) {
    TempDir dir;
    WriteFile(dir.File("key.json"), R"({"pucs": ["12"]})");
    WriteFile(dir.File("list.json"), R"(["--puc", "12"])");
    // A board's flash file: a bad record, an address record unknown, data beyond the flash.
    WriteFile(dir.File("0.hex"), ":0100000001FF\n");
    WriteFile(dir.File("1.hex"), HexRecord(0x04, 0, {0x01, 0x00, 0x00}) + "\n");
    HexWriter().Bytes(0x1FFFF, {1, 2}).Save(dir.File("2.hex"));
    SimProcess first({"--gateway", "0:0"});
    std::istringstream rows(
        "--puc 128;--puc 12,mode=sleep;--puc 12,version=31;--puc 12,bogus;--puc 12,hex=none.hex;"
        "--puc 12,status-error=210;--ht 30,ident=TOOLONGX;--gateway x;--gateway 0:70000;"
        "--loss 1.5;--idle-timeout 0;--bind localhost --gateway 0:0;--nonsense;--gateway 0:" +
        std::to_string(first.GatewayPort(0)) +
        ";--scenario none.json;--scenario key.json;"
        "--scenario list.json;--puc 12,hex=0.hex;--puc 12,hex=1.hex;--puc 12,hex=2.hex");
    for (std::string row; std::getline(rows, row, ';');) {
        std::istringstream words(row);
        const ToolResult result =
            RunTool({std::istream_iterator<std::string>(words), {}},
                    {.workDir = dir.Path(), .timeoutMs = 10000, .program = ORV_CAN_SIM_BIN});
        EXPECT_NE(result.exitCode, 0) << row;
        EXPECT_NE(result.err, "") << row;
        EXPECT_THAT(result.out, testing::Not(HasSubstr("READY"))) << row;
    }
}

}  // namespace
}  // namespace orv::test
