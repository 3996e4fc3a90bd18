// A candump log of any bytes, as OrvBusLog reads it from a pipe: handed over in pieces of any
// size, it reads as the same lines as in one piece, and never more than a few lines per line.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "FuzzSupport.h"
#include "OrvBusLog/reader/BusLogReader.h"

namespace {

// At most two lines per log line (a step that ends and one that is told at once), and at the end
// two per boot node (its open step and its unfinished download).
constexpr size_t kLinesPerLine = 2;
constexpr size_t kLinesAtTheEnd = 2 * 128;

std::pair<std::vector<std::string>, uint64_t> Read(const std::string& log, size_t piece) {
    std::vector<std::string> lines;
    orv::buslog::BusLogReader reader([&lines](const std::string& line) { lines.push_back(line); });
    for (size_t at = 0; at < log.size(); at += piece) {
        reader.Feed(std::string_view(log).substr(at, piece));
    }
    reader.Finish();
    return {lines, reader.BadLines()};
}

}  // namespace

void orv::fuzz::FuzzOne(FuzzInput& input) {
    const size_t piece = input.Byte() % 64 + 1;
    const std::string log = input.Rest();
    const auto whole = Read(log, log.size() + 1);
    Require(Read(log, piece) == whole);
    const size_t logLines = static_cast<size_t>(std::count(log.begin(), log.end(), '\n')) + 1;
    Require(whole.first.size() <= kLinesPerLine * logLines + kLinesAtTheEnd);
    Require(whole.second <= logLines);
}
