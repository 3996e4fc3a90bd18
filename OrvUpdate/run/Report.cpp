#include "OrvUpdate/run/Report.h"

#include <cstdio>
#include <fstream>

#include "OrvUpdate/run/Table.h"
#include "nlohmann/json.hpp"

namespace orv::update {
namespace {

nlohmann::json ChecksumJson(std::optional<uint16_t> checksum) {
    return checksum ? nlohmann::json(ChecksumText(checksum)) : nlohmann::json(nullptr);
}

// What the board held before: its checksum, "none" without an application, null when it was
// not asked or did not answer.
nlohmann::json BeforeJson(const BoardOutcome& outcome) {
    if (!outcome.probe || !outcome.probe->flash) {
        return nullptr;
    }
    const FlashReport& flash = *outcome.probe->flash;
    return flash.holdsApplication ? nlohmann::json(ChecksumText(flash.checksum))
                                  : nlohmann::json("none");
}

nlohmann::json BoardJson(const Board& board, const BoardOutcome& outcome) {
    nlohmann::json steps = nlohmann::json::array();
    for (const StepRecord& step : outcome.steps) {
        steps.push_back(
            {{"command", step.command}, {"exitStatus", step.exitStatus}, {"ms", step.ms}});
    }
    return {{"name", board.name},
            {"route", board.route},
            {"bus", board.bus},
            {"node", board.node},
            {"bootNode", board.bootNode},
            {"kind", KindName(board.kind)},
            {"file", board.path},
            {"imageChecksum", ChecksumJson(board.imageChecksum)},
            {"before", BeforeJson(outcome)},
            {"after", ChecksumJson(outcome.after)},
            {"action", outcome.action},
            {"result", OutcomeName(outcome.result)},
            {"tries", outcome.tries},
            {"exitStatus", outcome.exitStatus},
            {"log", outcome.log},
            {"start", outcome.start},
            {"end", outcome.end},
            {"ms", outcome.ms},
            {"steps", steps}};
}
}  // namespace

std::string ChecksumText(std::optional<uint16_t> checksum) {
    if (!checksum) {
        return "-";
    }
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(*checksum));
    return text;
}

std::string SecondsText(int64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000.0);
    return text;
}

void PrintRunTable(const std::vector<Board>& boards, const std::vector<BoardOutcome>& outcomes) {
    std::vector<std::vector<std::string>> rows;
    for (size_t i = 0; i < boards.size(); ++i) {
        const BoardOutcome& outcome = outcomes[i];
        std::string result = OutcomeName(outcome.result);
        if (outcome.result == Outcome::Failed) {
            result += " (exit " + std::to_string(outcome.exitStatus) + ", " +
                      std::to_string(outcome.tries) + " tries)";
        }
        rows.push_back({boards[i].name, outcome.action, result,
                        outcome.result == Outcome::NotRun ? "-" : SecondsText(outcome.ms)});
    }
    PrintTable({"BOARD", "ACTION", "RESULT", "TIME"}, rows);
}

bool WriteJsonReport(const std::string& path, const Release& release,
                     const std::vector<BoardOutcome>& outcomes, bool interrupted) {
    nlohmann::json boards = nlohmann::json::array();
    for (size_t i = 0; i < release.boards.size(); ++i) {
        boards.push_back(BoardJson(release.boards[i], outcomes[i]));
    }
    const nlohmann::json report = {
        {"release", release.path}, {"interrupted", interrupted}, {"boards", boards}};
    std::ofstream file(path);
    file << report.dump(2) << '\n';
    return static_cast<bool>(file.flush());
}

}  // namespace orv::update
