#pragma once

#include <string>

#include "OrvCanSim/boards/FlashMemory.h"

namespace orv::sim {

// Writes the data of an Intel HEX file (records 00 data, 01 end of file, 02 extended segment
// address, 04 extended linear address; 03 and 05 are skipped) into flash. Returns an empty text
// on success, otherwise one line that says what is wrong and where.
std::string LoadIntelHex(const std::string& path, FlashMemory& flash);

}  // namespace orv::sim
