#pragma once

#include <cstdint>
#include <string>

#include "OrvUpdate/run/ToolSteps.h"

namespace orv::update {

struct StepRecord {
    std::string command;  // the tool's arguments, joined by blanks
    int exitStatus = -1;  // 0..255; -1 when the tool did not start
    int64_t ms = 0;       // from the start of the tool to its end
    std::string output;   // its standard output
};

// Runs the tool for the steps of one board. Each run's standard output is appended to the
// board's log, byte for byte, after a line with the command; its standard error, where the tool
// tells people the reasons, to a second file beside it.
class ToolStepper {
  public:
    ToolStepper(std::string tool, std::string logPath);
    // Empties the board's logs, so that they hold this run alone.
    void StartLogs() const;
    StepRecord Run(const ToolArgs& args) const;
    const std::string& LogPath() const { return logPath_; }

  private:
    std::string tool_;
    std::string logPath_;
    std::string errorLogPath_;
};

// What the tool is doing now, from a board's log: the command keyword of its latest run and the
// last line it wrote ("DnlPUC: Sub-block 12 DONE").
std::string CurrentActivity(const std::string& logPath);

}  // namespace orv::update
