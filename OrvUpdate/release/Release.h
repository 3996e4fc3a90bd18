#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orv::update {

enum class BoardKind { Puc, Ht, HtPdo };

// The tool's keyword part for the kind ("PUC", "HT", "HT-PDO"), as the release file spells it.
const char* KindName(BoardKind kind);

// One board of the instrument, as the release file names it, with its image checked.
struct Board {
    std::string name;
    std::string route;  // the tool's first argument
    int bus = 0;
    int node = 0;      // the application's node ID
    int bootNode = 0;  // the boot loader's node ID; the application's unless the file says
    BoardKind kind = BoardKind::Puc;
    std::string file;  // as written: a HEX file, or a firmware list for HT-PDO
    std::string path;  // the file as the tool is given it
    // The image's download checksum; none for a firmware list, whose image the board chooses.
    std::optional<uint16_t> imageChecksum;
    int line = 0;  // of the board's table in the release file
};

struct Release {
    std::string path;
    std::vector<Board> boards;
};

// A release file that passed every check, or every reason found to refuse it, each as
// "FILE:LINE: reason".
struct ReleaseReading {
    Release release;
    std::vector<std::string> refusals;
};

ReleaseReading ReadRelease(const std::string& path);

// Routes that the tool reads as one (it matches board names without regard to case) have one key.
std::string RouteKey(const std::string& route);

}  // namespace orv::update
