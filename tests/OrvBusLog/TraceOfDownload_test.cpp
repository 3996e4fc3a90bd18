// OrvBusLog on the trace of a real download: the simulator's PUC taking the demo program through
// the Ethernet-to-CAN route, read whole and cut off in its second sub-block.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/SimProcess.h"
#include "support/TestFiles.h"
#include "support/ToolRun.h"

namespace orv::test {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string kBusLog = ORV_BINARY_DIR "/OrvBusLog";

ToolResult ReadLog(const std::string& path) {
    ToolRunOptions options;
    options.program = kBusLog;
    options.timeoutMs = 20000;
    return RunTool({path}, options);
}

// The log's lines up to and including the first that holds `text`, and `extra` more.
std::string LinesUntil(const std::string& log, const std::string& text, size_t extra) {
    std::istringstream lines(log);
    std::string kept;
    std::string line;
    size_t more = 0;
    bool found = false;
    while (std::getline(lines, line) && (!found || more++ < extra)) {
        kept += line + "\n";
        found = found || line.find(text) != std::string::npos;
    }
    return kept;
}

TEST(TraceOfDownload, TellsTheWholeDownloadAndWhereACutOneStopped) {
    TempDir dir;
    const std::string trace = dir.File("bus.log");
    {
        SimProcess sim({"--puc", "12", "--bridge", "0", "--trace", trace});
        const ToolResult download =
            RunTool({"Ethernet2CAN:127.0.0.1:" + std::to_string(sim.BridgePort()) + "/can0", "0",
                     "DnlPUC", "12", ORV_SOURCE_DIR "/examples/puc-demo.hex"});
        ASSERT_EQ(download.exitCode, 0) << download.out << download.err;
    }
    const ToolResult whole = ReadLog(trace);
    EXPECT_EQ(whole.exitCode, 0);
    EXPECT_EQ(whole.err, "");
    EXPECT_THAT(whole.out,
                AllOf(HasSubstr("node 12: boot code information → 3100, hardware ID 0x00\n"),
                      HasSubstr("node 12: sub-block 0x5000, 2048 bytes, 294 frames, "),
                      HasSubstr("node 12: sub-block 0x2000 page 6, 2048 bytes, 294 frames, "),
                      HasSubstr("node 12: jump to application\n"), Not(HasSubstr("no answer")),
                      Not(HasSubstr("unfinished"))));

    // The second sub-block's header (page 6, address 0x2000 low byte first), its poll and
    // answer, and 99 segments.
    const std::string cut = dir.File("cut.log");
    WriteFile(cut, LinesUntil(ReadFile(trace), "#1006002000", 101));
    const ToolResult stopped = ReadLog(cut);
    EXPECT_EQ(stopped.exitCode, 0);
    EXPECT_THAT(
        stopped.out,
        AllOf(HasSubstr("node 12: sub-block 0x2000 page 6, 693 of 2048 bytes, 100 frames, "),
              HasSubstr(", incomplete\n"),
              HasSubstr("node 12: download unfinished after sub-block 0x2000 page 6 (at ")));
}

TEST(TraceOfDownload, ReportsWhatItCannotRead) {
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
