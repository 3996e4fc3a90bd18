// OrvBusLog as a program: what it tells of a log it cannot wholly read, and how it fails.
#include <gtest/gtest.h>

#include <string>

#include "support/TestFiles.h"
#include "support/ToolRun.h"

namespace orv::test {
namespace {

const std::string kBusLog = ORV_BINARY_DIR "/OrvBusLog";

ToolResult ReadLog(const std::string& path) {
    ToolRunOptions options;
    options.program = kBusLog;
    options.timeoutMs = 20000;
    return RunTool({path}, options);
}

TEST(BusLogProgram, ReportsWhatItCannotReadAndFailsWithoutAFile) {
    TempDir dir;
    const std::string log = dir.File("mixed.log");
    WriteFile(log, "(1.000000) can0 20C#AA55000000000000\nnot a frame\n(1.5) can0 123#R\n");
    const ToolResult result = ReadLog(log);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "    0.000  node 12: write enable\n");
    EXPECT_EQ(result.err,
              "OrvBusLog: lines that are not candump frames: 1 (the first: line 2)\n"
              "OrvBusLog: frames of other traffic left out: 1\n");
    EXPECT_EQ(ReadLog(dir.File("missing.log")).exitCode, 1);
    const ToolResult usage = RunTool({}, {.program = kBusLog});
    EXPECT_EQ(usage.exitCode, 2);
    EXPECT_EQ(usage.err, "Usage: OrvBusLog FILE|-\n");
}

}  // namespace
}  // namespace orv::test
