#pragma once

#include <optional>
#include <string>
#include <vector>

#include "OrvUpdate/release/Release.h"
#include "OrvUpdate/run/ToolStep.h"

namespace orv::update {

struct UpdateOptions {
    bool force = false;
    bool verify = false;
    int retries = 1;
};

// What a board reported when asked, before anything was written to it.
struct ProbeResult {
    bool reached = false;
    std::optional<FlashReport> flash;
    bool current = false;  // it holds the image already
};

enum class Outcome { NotRun, Current, Updated, Failed };
const char* OutcomeName(Outcome outcome);

struct BoardOutcome {
    std::string action = "none";  // "flash", "skip" or "none"
    Outcome result = Outcome::NotRun;
    std::optional<ProbeResult> probe;
    std::optional<uint16_t> after;  // the image's checksum once the board took it
    int tries = 0;
    int exitStatus = -1;  // of the tool's last run
    std::string log;
    std::string start;
    std::string end;
    int64_t ms = 0;
    std::vector<StepRecord> steps;
};

// Sends the board to its boot loader and reads its flash report. A board found current is sent
// back to its application, as it was found; any other is left in its boot loader.
ProbeResult ProbeBoard(const Board& board, const ToolStepper& stepper,
                       std::vector<StepRecord>& steps);

// Brings one board to its image: a PUC that holds it already is skipped (unless forced), any
// other board is flashed, each failed download tried again up to the retries.
BoardOutcome UpdateBoard(const Board& board, const ToolStepper& stepper,
                         const UpdateOptions& options);

}  // namespace orv::update
