// A firmware list and the identification text a board gave (up to its 8 reply bytes), through
// the lookup and the path built from what it found.
#include <cstdio>

#include "FuzzSupport.h"
#include "frontend/HardwareIdentification.h"
#include "text/AnsiText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orv::fuzz::FuzzInput input(data, size);
    const std::string hardwareName = input.Piece(8);
    const std::string path = orv::fuzz::ScratchFile("firmware.lst", input.Rest());

    uint32_t baseAddress = 0;
    const std::wstring found =
        FindFirmwareFile(orv::WidenAnsi(path), orv::WidenAnsi(hardwareName), baseAddress);
    if (!found.empty()) {
        RunSettings settings;
        std::snprintf(settings.hexFileName, sizeof settings.hexFileName, "%s", path.c_str());
        SetFirmwarePath(settings, found);
    }
    return 0;
}
