#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "OrvUpdate/release/Release.h"

// The tool's command lines for each step of a board, and what its output says about the board.
namespace orv::update {

using ToolArgs = std::vector<std::string>;

ToolArgs ToBootArgs(const Board& board);
ToolArgs GetInfoArgs(const Board& board);
ToolArgs ToAppArgs(const Board& board);
// A board already in its boot loader is flashed under its boot node ID alone; otherwise the
// tool is given the application's node ID too and sends the board there itself.
ToolArgs DownloadArgs(const Board& board, bool inBootLoader);
ToolArgs VerifyArgs(const Board& board);

// What GetInfoPUC printed about the flash: whether it holds an application, and its checksum.
struct FlashReport {
    bool holdsApplication = false;
    uint16_t checksum = 0;
};
std::optional<FlashReport> ParseFlashReport(const std::string& toolOutput);

}  // namespace orv::update
