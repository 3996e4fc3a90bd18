#include <gtest/gtest.h>
#include <unistd.h>
#include <utime.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "ImageLoad.h"
#include "support/HexWriter.h"

namespace orv::test {
namespace {

constexpr uint32_t kBlock = CProgramImage::kSubblockSize;

// Packed wire fields are compared through unary plus: the assertions bind references, which a
// misaligned field cannot back.

std::vector<uint8_t> Pattern(size_t count, uint8_t seed) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

LoadedImage LoadBlocks(const TempDir& dir, const std::vector<uint32_t>& blocks, uint32_t mode,
                       uint32_t baseAddress = 0) {
    HexWriter hex;
    for (uint32_t block : blocks)
        hex.Bytes(baseAddress + block * kBlock, Pattern(16, static_cast<uint8_t>(block)));
    LoadedImage result = LoadHexText(dir, hex.EndOfFile().Text(), mode, baseAddress);
    EXPECT_EQ(result.image->loaded, 1);
    return result;
}

std::vector<uint8_t> Wire(const void* record, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(record);
    return std::vector<uint8_t>(bytes, bytes + size);
}

// Header and descriptor are sent as they stand, so they are checked byte for byte.
TEST(ProgramImage, PucSingleSubblockOnTheWire) {
    TempDir dir;
    const std::vector<uint8_t> bytes = Pattern(kBlock, 3);
    uint16_t sum = 0;
    for (uint8_t b : bytes)
        sum = static_cast<uint16_t>(sum + b);
    HexWriter().Bytes(0x5000, bytes).EndOfFile().Save(dir.File("t.hex"));
    CProgramImage image(3, 0x22, dir.File("t.hex").c_str(), MODE_PUC, 0);
    ASSERT_EQ(image.loaded, 1);
    EXPECT_EQ(image.totalUsedBytes, kBlock);
    EXPECT_EQ(image.BlockChecksum(10), sum);
    const uint8_t low = uint8_t(sum), high = uint8_t(sum >> 8);
    EXPECT_EQ(Wire(&image.bootParams, 17),
              (std::vector<uint8_t>{3, 0x22, 0, 0x00, 0x20, 0x00, 0x08, low, high, 0xF4, 0x01, 0, 0,
                                    0x80, 0x01, 0x00, 0x02}));
    EXPECT_EQ(Wire(&image.subblocks[10], 11),
              (std::vector<uint8_t>{0, 0x00, 0x50, 0x00, 0x08, low, high, 0xE8, 0x03, 0, 0}));
    image.SetNodeId(0x7F);
    EXPECT_EQ(+image.bootParams.nodeId, 0x7F);
}

TEST(ProgramImage, PucDownloadsOnlyItsAreas) {
    TempDir dir;
    std::vector<uint32_t> all(64);
    for (uint32_t i = 0; i < 64; ++i)
        all[i] = i;
    const LoadedImage result = LoadBlocks(dir, all, MODE_PUC);
    const CProgramImage& image = *result.image;
    uint16_t expectedSum = 0;
    for (uint16_t i = 0; i < 64; ++i) {
        SCOPED_TRACE(i);
        const bool downloaded = (i >= 10 && i <= 29) || (i >= 36 && i <= 61);
        EXPECT_EQ(image.IsBlockUsed(i), downloaded);
        EXPECT_EQ(+image.subblocks[i].checksum, downloaded ? image.BlockChecksum(i) : 0);
        if (downloaded)
            expectedSum = static_cast<uint16_t>(expectedSum + image.BlockChecksum(i));
        // Bytes of the boot code's areas still stand in the image.
        EXPECT_EQ(image.data[i * kBlock], static_cast<uint8_t>(i));
        EXPECT_EQ(+image.subblocks[i].page, i < 32 ? 0 : 6);
    }
    EXPECT_EQ(image.totalUsedBytes, 94208u);
    EXPECT_EQ(+image.bootParams.length, 0x7000);
    EXPECT_EQ(+image.bootParams.checksum, expectedSum);
    EXPECT_EQ(+image.bootParams.startAddress, 0x2000);
    EXPECT_FALSE(image.IsBlockUsed(64));
    EXPECT_FALSE(image.IsBlockUsed(0xFFFF));

    const LoadedImage outside = LoadBlocks(dir, {0, 9, 30, 35, 62, 63}, MODE_PUC);
    EXPECT_EQ(outside.image->totalUsedBytes, 0u);
    EXPECT_EQ(+outside.image->bootParams.startAddress, 0);
}

TEST(ProgramImage, HtUsesPageSixAndStartsAtTheFirstUsedSubblock) {
    TempDir dir;
    const LoadedImage result = LoadBlocks(dir, {40, 5}, MODE_HT);
    const CProgramImage& image = *result.image;
    EXPECT_EQ(+image.bootParams.page, 6);
    EXPECT_EQ(+image.bootParams.startAddress, 5 * kBlock);
    EXPECT_EQ(image.totalUsedBytes, 2 * kBlock);
    for (uint32_t i = 0; i < 64; ++i) {
        EXPECT_EQ(+image.subblocks[i].page, 6) << i;
        EXPECT_EQ(+image.subblocks[i].address, (i * kBlock) & 0xFFFF) << i;
    }
}

TEST(ProgramImage, PdoPagesAndAddressesFollowTheBase) {
    struct Case {
        uint32_t baseAddress, blockBase, block;
        uint8_t page;
        uint16_t address;
    };
    TempDir dir;
    for (const Case& c : {Case{0x01010000, 0x010000, 0, 1, 0x0000},
                          {0x01010000, 0x010000, 40, 2, 0x4000},
                          {0x8000, 0, 32, 1, 0x0000},
                          {0x8000, 0, 31, 0, 0xF800},
                          {0xFFFFFF, 0, 1, 0, 0x0800}}) {
        SCOPED_TRACE(testing::Message() << std::hex << c.baseAddress << " block " << c.block);
        const LoadedImage result = LoadBlocks(dir, {c.block}, MODE_HT_PDO, c.baseAddress);
        const CProgramImage& image = *result.image;
        EXPECT_EQ(image.blockBase, c.blockBase);
        EXPECT_EQ(+image.bootParams.page, 0);
        EXPECT_EQ(+image.subblocks[c.block].page, c.page);
        EXPECT_EQ(+image.subblocks[c.block].address, c.address);
        EXPECT_EQ(+image.bootParams.startAddress, c.address);
        EXPECT_EQ(image.data[c.block * kBlock], static_cast<uint8_t>(c.block));
    }
}

TEST(ProgramImage, ChecksumsWrapAtSixteenBits) {
    TempDir dir;
    HexWriter hex;
    for (uint32_t block = 10; block < 20; ++block)
        hex.Bytes(block * kBlock, std::vector<uint8_t>(kBlock, block == 11 ? 0x00 : 0xFF));
    const LoadedImage result = LoadHexText(dir, hex.EndOfFile().Text());
    const CProgramImage& image = *result.image;
    EXPECT_EQ(image.BlockChecksum(10), 0xF800);
    EXPECT_EQ(image.BlockChecksum(11), 0);
    EXPECT_EQ(image.BlockChecksum(20), 0xF800);  // never written: all fill bytes
    EXPECT_EQ(image.BlockChecksum(64), 0);
    EXPECT_EQ(+image.bootParams.checksum, static_cast<uint16_t>(9 * 0xF800));
}

TEST(ProgramImage, FillBlockGapsClosesTheRange) {
    TempDir dir;
    for (const std::vector<uint32_t>& blocks : {std::vector<uint32_t>{3, 7}, {}}) {
        const LoadedImage result = LoadBlocks(dir, blocks, MODE_HT_PDO, 0x01010000);
        CProgramImage& image = *result.image;
        const uint16_t startAddress = image.bootParams.startAddress;
        const uint16_t sumBefore = image.bootParams.checksum;
        EXPECT_TRUE(image.FillBlockGaps());
        const uint32_t count = blocks.empty() ? 0 : 5;
        for (uint16_t i = 0; i < 64; ++i)
            EXPECT_EQ(image.IsBlockUsed(i), count != 0 && i >= 3 && i <= 7) << i;
        EXPECT_EQ(image.totalUsedBytes, count * kBlock);
        EXPECT_EQ(+image.bootParams.length, count * kBlock);
        EXPECT_EQ(+image.bootParams.checksum,
                  static_cast<uint16_t>(sumBefore + (count == 0 ? 0 : 3 * 0xF800)));
        EXPECT_EQ(+image.subblocks[5].checksum, count == 0 ? 0 : 0xF800);
        EXPECT_EQ(+image.bootParams.startAddress, startAddress);
    }
}

TEST(ProgramImage, CompareBlock) {
    TempDir dir;
    const LoadedImage result = LoadBlocks(dir, {10, 63}, MODE_PUC);
    CProgramImage& image = *result.image;
    EXPECT_FALSE(image.CompareBlock(10 * kBlock));
    std::memcpy(image.readBack + 10 * kBlock, image.data + 10 * kBlock, kBlock);
    EXPECT_TRUE(image.CompareBlock(10 * kBlock));
    EXPECT_TRUE(image.CompareBlock(11 * kBlock));  // both still fill bytes
    image.readBack[11 * kBlock - 1] ^= 1;
    EXPECT_FALSE(image.CompareBlock(10 * kBlock));
    std::memcpy(image.readBack + 63 * kBlock, image.data + 63 * kBlock, kBlock);
    EXPECT_TRUE(image.CompareBlock(0x10000 | 0xF800));
    EXPECT_FALSE(image.CompareBlock(0x20000 - kBlock + 1));
    EXPECT_FALSE(image.CompareBlock(-1));
}

// What the dumps hold is proven by the oracle and the read-back tests.
TEST(ProgramImage, DumpsLieBesideTheHexFileAndReplaceOlderOnes) {
    TempDir dir;
    const LoadedImage result = LoadBlocks(dir, {10}, MODE_PUC);
    EXPECT_EQ(std::string(result.image->baseName), dir.File("test1"));
    WriteFile(dir.File("test1.ori"), std::string(200000, 'x'));
    ConsoleCapture capture;
    result.image->WriteImageDump();
    EXPECT_EQ(ReadFile(dir.File("test1.ori")).size(), 131072u);
    std::strcpy(result.image->baseName, dir.File("gone/test1").c_str());
    result.image->WriteImageDump();
    result.image->WriteReadBackDump();
    EXPECT_EQ(capture.Text(), "");
}

TEST(ProgramImage, NamesAndDates) {
    const char* oldZone = std::getenv("TZ");
    const std::string kept = oldZone != nullptr ? oldZone : "";
    setenv("TZ", "UTC-10", 1);  // ten hours east of UTC
    tzset();
    TempDir dir;
    const std::string path = dir.File("Prog v2.hex");
    HexWriter().EndOfFile().Save(path);
    // 2021-03-04 20:00 UTC is already the 5th in that zone.
    const utimbuf times{1614888000, 1614888000};
    ASSERT_EQ(utime(path.c_str(), &times), 0);
    const std::time_t now = std::time(nullptr);
    CProgramImage image(0, 12, path.c_str(), MODE_PUC, 0);
    char today[20];
    std::tm local{};
    std::strftime(today, sizeof today, "%d.%m.%y", localtime_r(&now, &local));
    oldZone != nullptr ? setenv("TZ", kept.c_str(), 1) : unsetenv("TZ");
    tzset();
    ASSERT_EQ(image.loaded, 1);
    EXPECT_STREQ(image.fileName, path.c_str());
    EXPECT_STREQ(image.foundFileName, "Prog v2.hex");
    EXPECT_STREQ(image.fileDate, "05.03.21");
    EXPECT_STREQ(image.loadDate, today);

    const std::string name = std::string(150, 'n') + ".hex";
    EXPECT_EQ(LoadHexText(dir, ":00000001FF\n", MODE_PUC, 0, name).image->foundFileName,
              name.substr(0, 119));
    // A name too short for an extension is its own dump stem.
    WriteFile(dir.File("a.h"), ":00000001FF\n");
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.Path().c_str()), 0);
    CProgramImage shortName(0, 12, "a.h", MODE_PUC, 0);
    ASSERT_EQ(chdir(previous), 0);
    EXPECT_STREQ(shortName.baseName, "a.h");
}

}  // namespace
}  // namespace orv::test
