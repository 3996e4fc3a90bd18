#include "OrvUpdate/run/ToolStep.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "os/AppendFile.h"
#include "os/ChildProcess.h"
#include "os/Clock.h"

namespace orv::update {
namespace {
const std::string kCommandPrefix = "$ OrvFlashPuc ";

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
    AppendText(logPath_, kCommandPrefix + record.command + "\n");
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

std::string CurrentActivity(const std::string& logPath) {
    std::string log = ReadFrom(logPath, 0);
    while (!log.empty() && (log.back() == '\n' || log.back() == '\r')) {
        log.pop_back();
    }
    const size_t lastLine = log.find_last_of('\n');
    const std::string line = lastLine == std::string::npos ? log : log.substr(lastLine + 1);
    const size_t command = log.rfind(kCommandPrefix);
    if (command == std::string::npos) {
        return line;
    }
    // The keyword is the third argument: route, BusID, keyword.
    std::istringstream words(log.substr(command + kCommandPrefix.size()));
    std::string keyword;
    for (int i = 0; i < 3; ++i) {
        words >> keyword;
    }
    return line.rfind(kCommandPrefix, 0) == 0 ? keyword : keyword + ": " + line;
}

}  // namespace orv::update
