#pragma once

#include <memory>
#include <string>

#include "image/ProgramImage.h"
#include "os/Console.h"
#include "support/TestFiles.h"

namespace orv::test {

struct LoadedImage {
    std::unique_ptr<CProgramImage> image;
    std::string output, reason;  // what the load printed, and told on standard error
};

inline LoadedImage LoadHexText(const TempDir& dir, const std::string& text,
                               uint32_t mode = MODE_PUC, uint32_t baseAddress = 0,
                               const std::string& name = "test1.hex") {
    WriteFile(dir.File(name), text);
    ConsoleCapture capture;
    auto image = std::make_unique<CProgramImage>(0, 12, dir.File(name).c_str(), mode, baseAddress);
    return {std::move(image), capture.Text(), capture.ErrorText()};
}

}  // namespace orv::test
