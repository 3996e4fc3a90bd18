#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "image/ProgramImage.h"
#include "support/TestFiles.h"

namespace orv::test {

struct LoadedImage {
    std::unique_ptr<CProgramImage> image;
    std::string output;  // what the load printed
};

// Writes the text as a HEX file into the directory and loads it with BusID 0, node 12.
LoadedImage LoadHexText(const TempDir& dir, const std::string& text, uint32_t mode = MODE_PUC,
                        uint32_t baseAddress = 0, const std::string& name = "test1.hex");

}  // namespace orv::test
