#pragma once

#include <cstdint>
#include <string>

#include "OrvUpdate/release/Release.h"

namespace orv::update {

struct ImageCheck {
    bool loaded = false;
    uint16_t checksum = 0;  // what a PUC reports once it holds the image
    std::string reason;     // why it did not load, as the tool would tell it
};

// Loads the HEX file the way the tool does for this kind of board.
ImageCheck CheckHexImage(const std::string& path, BoardKind kind, uint32_t baseAddress = 0);

// Loads every image a firmware list names; empty when all load, else why the first did not.
std::string CheckFirmwareList(const std::string& path);

}  // namespace orv::update
