#include "ImageLoad.h"

#include "platform/Console.h"

namespace orv::test {

LoadedImage LoadHexText(const TempDir& dir, const std::string& text, uint32_t mode,
                        uint32_t baseAddress, const std::string& name) {
    const std::string path = dir.File(name);
    WriteFile(path, text);
    ConsoleCapture capture;
    LoadedImage result;
    result.image = std::make_unique<CProgramImage>(0, 12, path.c_str(), mode, baseAddress);
    result.output = capture.Text();
    return result;
}

}  // namespace orv::test
