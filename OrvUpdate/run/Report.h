#pragma once

#include <string>
#include <vector>

#include "OrvUpdate/release/Release.h"
#include "OrvUpdate/run/BoardUpdate.h"

namespace orv::update {

std::string ChecksumText(std::optional<uint16_t> checksum);  // "0x1A2B", or "-"
std::string SecondsText(int64_t ms);                         // "17.3 s"

// The result table of a run on standard output: board, action, result, time.
void PrintRunTable(const std::vector<Board>& boards, const std::vector<BoardOutcome>& outcomes);

// Writes the JSON report; false when the file cannot be written.
bool WriteJsonReport(const std::string& path, const Release& release,
                     const std::vector<BoardOutcome>& outcomes, bool interrupted);

}  // namespace orv::update
