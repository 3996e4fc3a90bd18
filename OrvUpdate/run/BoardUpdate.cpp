#include "OrvUpdate/run/BoardUpdate.h"

#include "os/Clock.h"
#include "os/WallClock.h"

namespace orv::update {
namespace {

const StepRecord& Step(const ToolStepper& stepper, const ToolArgs& args,
                       std::vector<StepRecord>& steps) {
    steps.push_back(stepper.Run(args));
    return steps.back();
}

// One try: the download, and with verify its check; true when both succeeded.
bool TryDownload(const Board& board, const ToolStepper& stepper, const UpdateOptions& options,
                 bool inBootLoader, BoardOutcome& outcome) {
    // An HT download starts from the boot loader without sending the board there itself.
    if (board.kind == BoardKind::Ht) {
        Step(stepper, ToBootArgs(board), outcome.steps);
    }
    const StepRecord& download = Step(stepper, DownloadArgs(board, inBootLoader), outcome.steps);
    outcome.exitStatus = download.exitStatus;
    if (download.exitStatus != 0 || !options.verify || board.kind != BoardKind::Puc) {
        return download.exitStatus == 0;
    }
    outcome.exitStatus = Step(stepper, VerifyArgs(board), outcome.steps).exitStatus;
    return outcome.exitStatus == 0;
}
}  // namespace

const char* OutcomeName(Outcome outcome) {
    switch (outcome) {
        case Outcome::Current:
            return "current";
        case Outcome::Updated:
            return "updated";
        case Outcome::Failed:
            return "failed";
        case Outcome::NotRun:
            break;
    }
    return "not run";
}

ProbeResult ProbeBoard(const Board& board, const ToolStepper& stepper,
                       std::vector<StepRecord>& steps) {
    ProbeResult probe;
    // A board already in its boot loader fails ToBoot but answers GetInfoPUC all the same.
    Step(stepper, ToBootArgs(board), steps);
    const StepRecord& info = Step(stepper, GetInfoArgs(board), steps);
    if (info.exitStatus == 0) {
        probe.flash = ParseFlashReport(info.output);
    }
    probe.reached = probe.flash.has_value();
    probe.current = probe.reached && probe.flash->holdsApplication && board.imageChecksum &&
                    probe.flash->checksum == *board.imageChecksum;
    if (probe.current) {
        Step(stepper, ToAppArgs(board), steps);
    }
    return probe;
}

BoardOutcome UpdateBoard(const Board& board, const ToolStepper& stepper,
                         const UpdateOptions& options) {
    BoardOutcome outcome;
    stepper.StartLogs();
    outcome.log = stepper.LogPath();
    outcome.start = UtcTimestamp();
    const uint64_t startMs = NowMs();
    if (board.kind == BoardKind::Puc && !options.force) {
        outcome.probe = ProbeBoard(board, stepper, outcome.steps);
        outcome.exitStatus = outcome.steps.back().exitStatus;
    }
    if (outcome.probe && outcome.probe->current) {
        outcome.action = "skip";
        outcome.result = Outcome::Current;
    } else {
        outcome.action = "flash";
        // After a probe that reached it, the board waits in its boot loader; a retry finds it
        // wherever the failed try left it.
        bool inBootLoader = outcome.probe && outcome.probe->reached;
        outcome.result = Outcome::Failed;
        while (outcome.tries <= options.retries) {
            ++outcome.tries;
            if (TryDownload(board, stepper, options, inBootLoader, outcome)) {
                outcome.result = Outcome::Updated;
                outcome.after = board.imageChecksum;
                break;
            }
            inBootLoader = false;
        }
    }
    outcome.ms = static_cast<int64_t>(NowMs() - startMs);
    outcome.end = UtcTimestamp();
    return outcome;
}

}  // namespace orv::update
