// A firmware list and the identification text a board gave (up to its 8 reply bytes), through
// the lookup and the path built from what it found.
#include <cstdio>

#include "FuzzSupport.h"
#include "frontend/HardwareIdentification.h"
#include "text/AnsiText.h"

void orv::fuzz::FuzzOne(FuzzInput& input) {
    const std::string hardwareName = input.Piece(8);
    const std::string path = ScratchFile("firmware.lst", input.Rest());
    uint32_t baseAddress = 0;
    const std::wstring found =
        FindFirmwareFile(WidenAnsi(path), WidenAnsi(hardwareName), baseAddress);
    if (!found.empty()) {
        RunSettings settings;
        std::snprintf(settings.hexFileName, sizeof settings.hexFileName, "%s", path.c_str());
        SetFirmwarePath(settings, found);
    }
}
