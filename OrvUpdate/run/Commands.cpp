#include "OrvUpdate/run/Commands.h"

#include <filesystem>
#include <optional>

#include "OrvUpdate/run/Report.h"
#include "OrvUpdate/run/RunProgress.h"
#include "OrvUpdate/run/Schedule.h"
#include "OrvUpdate/run/Table.h"
#include "os/Console.h"
#include "os/Interrupt.h"
#include "os/LibraryLoader.h"

namespace orv::update {
namespace {
constexpr int kFailure = 255;

std::optional<Release> CheckedRelease(const std::string& path) {
    ReleaseReading reading = ReadRelease(path);
    for (const std::string& refusal : reading.refusals) {
        ConsoleErrorPrintf("%s\n", refusal.c_str());
    }
    if (!reading.refusals.empty()) {
        ConsoleErrorPrintf("%s refused: no board was touched\n", path.c_str());
        return std::nullopt;
    }
    return std::move(reading.release);
}

std::string ToolPath(const PlanOptions& options) {
    if (!options.tool.empty()) {
        return options.tool;
    }
    const std::filesystem::path dir = ExecutableDirectory();
    const std::filesystem::path windowsTool = dir / "OrvFlashPuc.exe";
    return (std::filesystem::exists(windowsTool) ? windowsTool : dir / "OrvFlashPuc").string();
}

// The folder for the boards' logs, made when missing; empty when it cannot be made.
std::string LogFolder(const PlanOptions& options) {
    const std::string dir = options.logDir.empty() ? "logs" : options.logDir;
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) {
        ConsoleErrorPrintf("cannot make the log folder %s: %s\n", dir.c_str(),
                           error.message().c_str());
        return {};
    }
    return dir;
}

ToolStepper StepperFor(const Board& board, const PlanOptions& options, const std::string& logDir) {
    return ToolStepper(ToolPath(options),
                       (std::filesystem::path(logDir) / (board.name + ".log")).string());
}

std::string NodeText(const Board& board) {
    return board.bootNode == board.node
               ? std::to_string(board.node)
               : std::to_string(board.node) + "/" + std::to_string(board.bootNode);
}

std::string ProbeAction(const std::optional<ProbeResult>& probe) {
    if (!probe) {
        return "flash";
    }
    return probe->current ? "current" : probe->reached ? "flash" : "unreachable";
}

std::string BoardChecksumText(const std::optional<ProbeResult>& probe) {
    if (!probe || !probe->flash) {
        return "-";
    }
    return probe->flash->holdsApplication ? ChecksumText(probe->flash->checksum) : "none";
}
}  // namespace

int PlanRelease(const PlanOptions& options) {
    const std::optional<Release> release = CheckedRelease(options.release);
    if (!release) {
        return kFailure;
    }
    std::vector<std::optional<ProbeResult>> probes(release->boards.size());
    if (options.probe) {
        const std::string logDir = LogFolder(options);
        if (logDir.empty()) {
            return kFailure;
        }
        RunRoutes(GroupByRoute(release->boards), options.jobs, [&](size_t i, size_t) {
            const Board& board = release->boards[i];
            if (board.kind == BoardKind::Puc) {
                std::vector<StepRecord> steps;
                const ToolStepper stepper = StepperFor(board, options, logDir);
                stepper.StartLogs();
                probes[i] = ProbeBoard(board, stepper, steps);
            }
        });
    }
    std::vector<std::string> header = {"BOARD", "ROUTE", "NODE", "KIND", "FILE", "IMAGE"};
    if (options.probe) {
        header.insert(header.end(), {"BOARD-CS", "ACTION"});
    }
    std::vector<std::vector<std::string>> rows;
    bool allReached = true;
    for (size_t i = 0; i < release->boards.size(); ++i) {
        const Board& board = release->boards[i];
        std::vector<std::string> row = {
            board.name,      board.route,
            NodeText(board), KindName(board.kind),
            board.file,      board.imageChecksum ? ChecksumText(board.imageChecksum) : "list"};
        if (options.probe) {
            row.push_back(BoardChecksumText(probes[i]));
            row.push_back(ProbeAction(probes[i]));
            allReached = allReached && row.back() != "unreachable";
        }
        rows.push_back(std::move(row));
    }
    PrintTable(header, rows);
    return allReached ? 0 : kFailure;
}

int RunRelease(const RunOptions& options) {
    const std::optional<Release> release = CheckedRelease(options.release);
    if (!release) {
        return kFailure;
    }
    const std::string logDir = LogFolder(options);
    if (logDir.empty()) {
        return kFailure;
    }
    HoldInterrupts();
    const std::vector<Route> routes = GroupByRoute(release->boards);
    std::vector<BoardOutcome> outcomes(release->boards.size());
    {
        RunProgress progress(routes, release->boards.size());
        RunRoutes(routes, options.jobs, [&](size_t i, size_t route) {
            const Board& board = release->boards[i];
            const ToolStepper stepper = StepperFor(board, options, logDir);
            progress.Started(route, board.name, stepper.LogPath());
            outcomes[i] = UpdateBoard(board, stepper, options.update);
            progress.Finished(route);
        });
    }
    const bool interrupted = InterruptRequested();
    if (interrupted) {
        ConsoleErrorPrintf("interrupted: the boards not run were left as they were\n");
    }
    PrintRunTable(release->boards, outcomes);
    bool allCurrent = true;
    for (const BoardOutcome& outcome : outcomes) {
        allCurrent = allCurrent &&
                     (outcome.result == Outcome::Current || outcome.result == Outcome::Updated);
    }
    if (!options.report.empty() &&
        !WriteJsonReport(options.report, *release, outcomes, interrupted)) {
        ConsoleErrorPrintf("cannot write the report %s\n", options.report.c_str());
        allCurrent = false;
    }
    return allCurrent ? 0 : kFailure;
}

}  // namespace orv::update
