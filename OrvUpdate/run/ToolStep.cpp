#include "OrvUpdate/run/ToolStep.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "os/AppendFile.h"
#include "os/ChildProcess.h"
#include "os/Clock.h"

namespace orv::update {
namespace {
std::string ReadFrom(const std::string& path, std::uintmax_t offset) {
    std::ifstream file(path, std::ios::binary);
    file.seekg(static_cast<std::streamoff>(offset));
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::uintmax_t SizeOf(const std::string& path) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}
}  // namespace

ToolStepper::ToolStepper(std::string tool, std::string logPath)
    : tool_(std::move(tool)),
      logPath_(std::move(logPath)),
      errorLogPath_(logPath_.substr(0, logPath_.size() - 4) + ".err.log") {}

void ToolStepper::StartLogs() const {
    for (const std::string& path : {logPath_, errorLogPath_}) {
        std::ofstream(path, std::ios::trunc);
    }
}

StepRecord ToolStepper::Run(const ToolArgs& args) const {
    StepRecord record;
    for (const std::string& arg : args) {
        record.command += (record.command.empty() ? "" : " ") + arg;
    }
    AppendText(logPath_, "$ OrvFlashPuc " + record.command + "\n");
    const std::uintmax_t start = SizeOf(logPath_);
    const uint64_t startMs = NowMs();
    const ChildOutcome outcome = RunChildProcess(tool_, args, logPath_, errorLogPath_);
    record.ms = static_cast<int64_t>(NowMs() - startMs);
    record.exitStatus = outcome.exitStatus;
    if (!outcome.failure.empty()) {
        AppendText(errorLogPath_, outcome.failure + "\n");
    }
    record.output = ReadFrom(logPath_, start);
    // The tool's last message may end without a line end; the next command line starts anew.
    if (!record.output.empty() && record.output.back() != '\n') {
        AppendText(logPath_, "\n");
    }
    return record;
}

std::string LastLogLine(const std::string& logPath) {
    constexpr std::uintmax_t kTail = 256;
    const std::uintmax_t size = SizeOf(logPath);
    std::string tail = ReadFrom(logPath, size > kTail ? size - kTail : 0);
    while (!tail.empty() && (tail.back() == '\n' || tail.back() == '\r')) {
        tail.pop_back();
    }
    const size_t lineStart = tail.find_last_of('\n');
    return lineStart == std::string::npos ? tail : tail.substr(lineStart + 1);
}

}  // namespace orv::update
