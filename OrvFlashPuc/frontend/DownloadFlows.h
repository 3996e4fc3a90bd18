#pragma once

#include <cstdint>
#include <memory>

#include "frontend/RunSettings.h"
#include "image/ProgramImage.h"
#include "transport/CommAdapter.h"

namespace orv {

// The image of the settings' HEX file for the node of the settings; check its loaded flag (the
// image has printed why it failed).
std::unique_ptr<CProgramImage> LoadImage(const RunSettings& settings, uint32_t mode,
                                         uint32_t baseAddress);

// DnlPUC: loads the HEX file, finds the boot-mode node when the application's node ID was
// given, downloads and records the download in FLASH.LOG. The exit code.
int RunPucDownload(const RunSettings& settings, CCommAdapter& transport);

// DnlHT and DnlHTpdo; the latter first identifies the board and takes its firmware from the
// list file, which replaces the settings' file name. The exit code.
int RunHtDownload(RunSettings& settings, CCommAdapter& transport);

}  // namespace orv
