#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace orv::test {

struct ToolRunOptions {
    std::string workDir{};  // empty: the test's own working directory
    std::vector<std::pair<std::string, std::string>> env{};  // added to (or replacing in) ours
    int timeoutMs = 120000;
    std::string program = ORV_FLASH_PUC_BIN;
    bool errorOnTerminal = false;  // standard error on a pseudo-terminal instead of a pipe
    // Runs the program through these, such as Wine for a Windows program; none when empty.
    std::vector<std::string> launcher{};
};

struct ToolResult {
    int exitCode = -1;  // 0..255 as the shell sees it; the tool's -1 is 255; -1 when it was killed
    bool timedOut = false;
    std::string out;
    std::string err;
    int64_t elapsedMs = 0;
    int64_t cpuMs = 0;       // user and system time of the tool
    int64_t peakRssKiB = 0;  // its largest resident set
};

// Runs the tool with the given arguments (argv[0] and any launcher are added), collects both output
// streams and kills it when it outlives the timeout.
ToolResult RunTool(const std::vector<std::string>& args, const ToolRunOptions& options = {});

}  // namespace orv::test
