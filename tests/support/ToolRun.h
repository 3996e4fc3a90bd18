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
    std::vector<std::string> launcher{};  // runs the program, such as Wine for a Windows one
};

struct ToolResult {
    int exitCode = -1;  // 0..255 as the shell sees it (the tool's -1 is 255); -1 when killed
    bool timedOut = false;
    std::string out;
    std::vector<int64_t> outLineMs;  // when each line end of out arrived, ms after the start
    std::string err;
    int64_t elapsedMs = 0;
    int64_t cpuMs = 0;       // user and system time of the tool
    int64_t peakRssKiB = 0;  // its largest resident set
};

// Runs the program with these arguments, collects both output streams and kills it when it
// outlives the timeout.
ToolResult RunTool(const std::vector<std::string>& args, const ToolRunOptions& options = {});

}  // namespace orv::test
