#include "OrvUpdate/run/ToolSteps.h"

#include <cstdlib>

namespace orv::update {
namespace {
constexpr const char* kChecksumLine = "App file check sum: 0x";
constexpr const char* kNoApplicationLine = "FLASH memory contains no application\n";

ToolArgs Command(const Board& board, const char* keyword, int node) {
    return {board.route, std::to_string(board.bus), keyword, std::to_string(node)};
}
}  // namespace

ToolArgs ToBootArgs(const Board& board) {
    return Command(board, "ToBoot", board.node);
}

ToolArgs GetInfoArgs(const Board& board) {
    return Command(board, "GetInfoPUC", board.bootNode);
}

ToolArgs ToAppArgs(const Board& board) {
    return Command(board, "ToApp", board.bootNode);
}

ToolArgs DownloadArgs(const Board& board, bool inBootLoader) {
    static constexpr const char* kKeywords[] = {"DnlPUC", "DnlHT", "DnlHTpdo"};
    ToolArgs args = Command(board, kKeywords[static_cast<int>(board.kind)], board.bootNode);
    args.push_back(board.path);
    if (board.kind == BoardKind::Puc && !inBootLoader) {
        args.push_back(std::to_string(board.node));
    }
    return args;
}

ToolArgs VerifyArgs(const Board& board) {
    ToolArgs args = Command(board, "VerPUC", board.bootNode);
    args.push_back(board.path);
    return args;
}

std::optional<FlashReport> ParseFlashReport(const std::string& toolOutput) {
    if (toolOutput.find(kNoApplicationLine) != std::string::npos) {
        return FlashReport{};
    }
    const size_t at = toolOutput.find(kChecksumLine);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    const char* digits = toolOutput.c_str() + at + std::char_traits<char>::length(kChecksumLine);
    char* end = nullptr;
    const unsigned long value = std::strtoul(digits, &end, 16);
    if (end == digits || *end != '\n' || value > 0xFFFF) {
        return std::nullopt;
    }
    return FlashReport{true, static_cast<uint16_t>(value)};
}

}  // namespace orv::update
