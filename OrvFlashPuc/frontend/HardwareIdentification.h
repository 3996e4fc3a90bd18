#pragma once

#include <cstdint>
#include <string>

#include "frontend/RunSettings.h"
#include "transport/CommAdapter.h"

namespace orv {

// Looks the board's identification text up in the firmware list file (lines of: text TAB file
// name TAB hexadecimal base address). The file name as listed, or empty when the file cannot
// be read or the text is not in it; baseAddress is written only when an entry was found.
std::wstring FindFirmwareFile(const std::wstring& listPath, const std::wstring& hardwareName,
                              uint32_t& baseAddress);

// The firmware file's path: the list file's directory (a '\' or '/' separates directories)
// followed by the name from the list. It replaces the settings' file name.
void SetFirmwarePath(RunSettings& settings, const std::wstring& firmwareName);

// IDENTIFY: asks the board for its identification and prints its firmware file and base
// address. The exit code.
int RunIdentify(RunSettings& settings, CCommAdapter& transport);

// The identification before DnlHTpdo: leaves the board in boot mode and the firmware path in
// the settings. False (after the message, with the board sent back to its application) when
// the board or its firmware cannot be identified.
bool IdentifyForDownload(RunSettings& settings, CCommAdapter& transport, uint32_t& baseAddress);

}  // namespace orv
