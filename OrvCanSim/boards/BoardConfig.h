#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace orv::sim {

enum class BoardKind { Puc, Ht };

// Everything that sets one simulated board apart, as the --puc and --ht options give it.
struct BoardConfig {
    BoardKind kind = BoardKind::Puc;
    uint8_t applNodeId = 1;
    // The boot loader's node ID from the hardware; a PUC's soft CAN ID (1..127) overrides it.
    uint8_t bootNodeId = 1;
    bool startInBootLoader = false;
    std::string version = "3100";
    uint8_t hardwareId = 0;
    std::string ident = "HT-0001";
    std::string hexFile;
    bool silent = false;
    bool stuckBusy = false;
    // Gateway command code -> status byte reported once that command's frame has arrived.
    std::map<uint32_t, uint8_t> statusErrors;
};

// Parses "ID[,OPT...]" of --puc or --ht. Returns an empty text on success, else why not.
std::string ParseBoardDescription(BoardKind kind, const std::string& description,
                                  BoardConfig& config);

// "PUC 12" or "HT 30": how the log names a board.
std::string BoardName(const BoardConfig& config);

}  // namespace orv::sim
