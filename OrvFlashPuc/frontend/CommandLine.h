#pragma once

#include <cstdint>

#include "frontend/RunSettings.h"

namespace orv {

// Fills the settings from the process arguments; false when the run is to stop (the usage or
// an error message has been printed). Upper-cases argv[1] and argv[3] in place.
bool ParseArguments(RunSettings& settings, int argc, char** argv);

void PrintUsage();

// 0 on success, -1 on failure; a null text succeeds and leaves the value unchanged.
int ParseNumber(const char* text, int32_t& value);

void StrToUpper(char* text);

}  // namespace orv
