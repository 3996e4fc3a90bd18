#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "ImageLoad.h"
#include "support/HexWriter.h"

namespace orv::test {
namespace {

struct Segment {
    uint32_t address;
    std::vector<uint8_t> bytes;
};

// Scattered data with gaps between, written out of order in records of random size, with
// random CR LF or LF line ends and now and then a redundant type-04 record.
std::string RandomHexFile(uint32_t seed) {
    std::mt19937 random(seed);
    auto below = [&random](uint32_t limit) { return static_cast<uint32_t>(random() % limit); };
    std::vector<Segment> segments;
    uint32_t at = below(0x400);
    while (at < CProgramImage::kImageSize) {
        const uint32_t length = std::min(1 + below(0x1800), CProgramImage::kImageSize - at);
        Segment segment{at, std::vector<uint8_t>(length)};
        for (uint8_t& b : segment.bytes)
            b = static_cast<uint8_t>(random());
        segments.push_back(std::move(segment));
        at += length + below(0x3000);
    }
    std::shuffle(segments.begin(), segments.end(), random);

    HexWriter hex;
    for (const Segment& segment : segments) {
        if (below(4) == 0) {
            hex.ExtendedLinearAddress(static_cast<uint16_t>(segment.address >> 16));
        }
        for (size_t done = 0; done < segment.bytes.size();) {
            const size_t take = std::min<size_t>(1 + below(32), segment.bytes.size() - done);
            hex.LineEnd(below(2) == 0 ? "\r\n" : "\n");
            const auto first = segment.bytes.begin() + static_cast<std::ptrdiff_t>(done);
            hex.Bytes(segment.address + static_cast<uint32_t>(done),
                      std::vector<uint8_t>(first, first + static_cast<std::ptrdiff_t>(take)), take);
            done += take;
        }
    }
    return hex.EndOfFile().Text();
}

TEST(HexOracle, ImageDumpMatchesSrecCat) {
    if (std::system("command -v srec_cat >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "srec_cat is not installed";
    }
    TempDir dir;
    for (uint32_t seed : {1u, 2u, 3u, 4u, 5u}) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        const LoadedImage result = LoadHexText(dir, RandomHexFile(seed));
        ASSERT_EQ(result.output, "");
        ASSERT_EQ(result.image->loaded, 1);
        result.image->WriteImageDump();

        const std::string command =
            "srec_cat -disable-sequence-warnings '" + dir.File("test1.hex") +
            "' -Intel -fill 0xFF 0x0000 0x20000 -o '" + dir.File("oracle.bin") + "' -binary";
        ASSERT_EQ(std::system(command.c_str()), 0);
        const std::string expected = ReadFile(dir.File("oracle.bin"));
        const std::string actual = ReadFile(dir.File("test1.ori"));
        ASSERT_EQ(expected.size(), 131072u);
        ASSERT_EQ(actual.size(), expected.size());
        const auto differ = std::mismatch(actual.begin(), actual.end(), expected.begin()).first;
        EXPECT_TRUE(differ == actual.end())
            << "first difference at 0x" << std::hex << (differ - actual.begin());
    }
}

}  // namespace
}  // namespace orv::test
