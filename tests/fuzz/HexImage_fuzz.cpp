// An Intel HEX file as the loader reads it, for each target mode and a base address from the
// firmware list.
#include <optional>

#include "FuzzSupport.h"
#include "image/ProgramImage.h"

void orv::fuzz::FuzzOne(FuzzInput& input) {
    const uint32_t mode = input.Byte() % 3;
    const uint32_t baseAddress = input.U32();
    const std::string path = ScratchFile("image.hex", input.Rest());
    // Built in the same storage each time: a fresh 256 KiB per input costs more than the load
    // under AddressSanitizer.
    static std::optional<CProgramImage> image;
    image.emplace(0, 5, path.c_str(), mode, baseAddress);
    if (image->loaded != 0) {
        image->FillBlockGaps();
        Require(image->totalUsedBytes <= CProgramImage::kImageSize);  // never more than it holds
    }
    image.reset();
}
