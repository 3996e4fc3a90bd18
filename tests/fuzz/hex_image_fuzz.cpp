// An Intel HEX file as the loader reads it, for each target mode and a base address from the
// firmware list.
#include <optional>

#include "FuzzSupport.h"
#include "image/ProgramImage.h"
#include "os/Console.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orv::fuzz::FuzzInput input(data, size);
    const uint32_t mode = input.Byte() % 3;
    const uint32_t baseAddress = input.U32();
    const std::string path = orv::fuzz::ScratchFile("image.hex", input.Rest());

    orv::ConsoleCapture quiet;
    // Built in place in the same storage each time: a fresh 256 KiB allocation per input costs
    // more than the load under AddressSanitizer.
    static std::optional<CProgramImage> image;
    image.emplace(0, 5, path.c_str(), mode, baseAddress);
    if (image->loaded != 0) {
        image->FillBlockGaps();
        // A download never claims more than the image holds.
        orv::fuzz::Require(image->totalUsedBytes <= CProgramImage::kImageSize);
    }
    image.reset();
    return 0;
}
