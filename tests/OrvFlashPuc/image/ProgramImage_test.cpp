#include "image/ProgramImage.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <utime.h>

#include <cstring>
#include <ctime>
#include <numeric>
#include <string>
#include <vector>

#include "ImageLoad.h"
#include "support/HexWriter.h"

namespace orv::test {
namespace {

constexpr uint32_t kBlock = CProgramImage::kSubblockSize;

// Reading this process's memory from address 0 fails with an I/O error.
TEST(HexLoader, FilesThatCannotBeRead) {
    TempDir dir;
    for (const auto& [path, output, reason] :
         {std::tuple<std::string, std::string, std::string>{
              dir.Path(), "Error: Can not open HEX file\n", "is a directory"},
          {"/proc/self/mem", "Error reading hex file\nError: Error when reading HEX file\n",
           "read error"}}) {
        ConsoleCapture capture;
        CProgramImage image(0, 12, path.c_str(), MODE_PUC, 0);
        EXPECT_EQ(capture.Text(), output);
        EXPECT_THAT(capture.ErrorText(),
                    testing::EndsWith("HEX file " + path + ": " + reason + "\n"));
        EXPECT_EQ(image.loaded, 0);
    }
}

// Each sub-block listed gets 16 bytes of its own number.
LoadedImage LoadBlocks(const TempDir& dir, const std::vector<uint32_t>& blocks, uint32_t mode,
                       uint32_t baseAddress = 0) {
    HexWriter hex;
    for (uint32_t block : blocks)
        hex.Bytes(baseAddress + block * kBlock, std::vector<uint8_t>(16, uint8_t(block)));
    return LoadHexText(dir, hex.EndOfFile().Text(), mode, baseAddress);
}

std::vector<uint8_t> Wire(const void* record, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(record);
    return {bytes, bytes + size};
}

// Packed wire fields are compared through unary plus: the assertions bind references, which a
// misaligned field cannot back. Header and descriptor are sent as they stand.
TEST(ProgramImage, PucSingleSubblockOnTheWire) {
    TempDir dir;
    HexWriter().Bytes(0x5000, std::vector<uint8_t>(kBlock, 3)).EndOfFile().Save(dir.File("t.hex"));
    CProgramImage image(3, 0x22, dir.File("t.hex").c_str(), MODE_PUC, 0);
    ASSERT_EQ(image.loaded, 1);
    EXPECT_EQ(image.totalUsedBytes, kBlock);
    EXPECT_EQ(Wire(&image.bootParams, 17),
              (std::vector<uint8_t>{3, 0x22, 0, 0x00, 0x20, 0x00, 0x08, 0x00, 0x18, 0xF4, 0x01, 0,
                                    0, 0x80, 0x01, 0x00, 0x02}));
    EXPECT_EQ(Wire(&image.subblocks[10], 11),
              (std::vector<uint8_t>{0, 0x00, 0x50, 0x00, 0x08, 0x00, 0x18, 0xE8, 0x03, 0, 0}));
}

// Of a full PUC image only sub-blocks 10-29 (page 0) and 36-61 (page 6) go out.
TEST(ProgramImage, PucDownloadsOnlyItsAreas) {
    TempDir dir;
    std::vector<uint32_t> all(64);
    std::iota(all.begin(), all.end(), 0u);
    const LoadedImage result = LoadBlocks(dir, all, MODE_PUC);
    const CProgramImage& image = *result.image;
    std::string used;
    for (uint16_t i = 0; i <= 64; ++i)
        used += image.IsBlockUsed(i) ? '+' : '.';
    EXPECT_EQ(used, std::string(10, '.') + std::string(20, '+') + std::string(6, '.') +
                        std::string(26, '+') + "...");
    EXPECT_EQ(+image.subblocks[29].page, 0);
    EXPECT_EQ(+image.subblocks[36].page, 6);
    EXPECT_EQ(+image.subblocks[36].checksum, uint16_t(2032 * 0xFF + 16 * 36));  // fill bytes too
    EXPECT_EQ(+image.subblocks[62].checksum, 0);
    EXPECT_EQ(image.totalUsedBytes, 94208u);
    EXPECT_EQ(+image.bootParams.length, 0x7000);
    EXPECT_EQ(+image.bootParams.checksum, uint16_t(46 * 2032 * 0xFF + 16 * (390 + 1261)));
    EXPECT_EQ(+image.bootParams.startAddress, 0x2000);
}

// HT images use page 6; PDO pages and addresses follow the base address. The image starts there.
TEST(ProgramImage, HtAndPdoPagesAndAddresses) {
    const struct {
        uint32_t mode, base, block, blockBase;
        int bootPage, page, address;
    } cases[] = {{MODE_HT, 0, 40, 0, 6, 6, 0x4000},
                 {MODE_HT_PDO, 0x01010000, 40, 0x010000, 0, 2, 0x4000},
                 {MODE_HT_PDO, 0x8000, 31, 0, 0, 0, 0xF800}};
    TempDir dir;
    for (const auto& c : cases) {
        const LoadedImage result = LoadBlocks(dir, {c.block}, c.mode, c.base);
        const CProgramImage& image = *result.image;
        EXPECT_EQ(image.blockBase, c.blockBase) << c.base;
        EXPECT_EQ(+image.bootParams.page, c.bootPage);
        EXPECT_EQ(+image.subblocks[c.block].page, c.page);
        EXPECT_EQ(+image.subblocks[c.block].address, c.address);
        EXPECT_EQ(+image.bootParams.startAddress, c.address);
    }
}

// A read-back is compared a whole sub-block at a time, and only at a sub-block's start.
TEST(ProgramImage, ChecksumsWrapFillBlockGapsClosesTheRangeAndCompareBlock) {
    TempDir dir;
    HexWriter hex;
    for (uint32_t block : {10u, 11u, 14u})
        hex.Bytes(block * kBlock, std::vector<uint8_t>(kBlock, block == 11 ? 0x00 : 0xFF));
    const LoadedImage result = LoadHexText(dir, hex.EndOfFile().Text(), MODE_HT);
    CProgramImage& image = *result.image;
    EXPECT_EQ(+image.bootParams.checksum, static_cast<uint16_t>(2 * 0xF800));
    EXPECT_TRUE(image.FillBlockGaps());
    for (uint16_t i = 0; i < 64; ++i)
        EXPECT_EQ(image.IsBlockUsed(i), i >= 10 && i <= 14) << i;
    EXPECT_EQ(+image.bootParams.length, 5 * kBlock);
    EXPECT_EQ(image.totalUsedBytes, 5 * kBlock);
    EXPECT_EQ(+image.subblocks[12].checksum, 0xF800);  // never written: all fill bytes
    EXPECT_EQ(+image.bootParams.checksum, static_cast<uint16_t>(4 * 0xF800));
    EXPECT_EQ(+image.bootParams.startAddress, 10 * kBlock);
    std::memcpy(image.readBack, image.data, 0x20000);
    image.readBack[11 * kBlock - 1] ^= 1;
    EXPECT_FALSE(image.CompareBlock(10 * kBlock));
    EXPECT_TRUE(image.CompareBlock(0x20000 - kBlock));
    EXPECT_FALSE(image.CompareBlock(0x20000 - kBlock + 1));
    EXPECT_FALSE(image.CompareBlock(-1));
}

// The file's date is local: 2021-03-04 20:00 UTC is already the 5th ten hours east of UTC. The
// name kept for the board is cut to its field; the dumps go beside the file, without its
// extension.
TEST(ProgramImage, NamesAndDates) {
    setenv("TZ", "UTC-10", 1);
    tzset();
    TempDir dir;
    const std::string longName = std::string(126, 'p') + ".hex";
    for (const auto& [name, found, base] :
         {std::tuple<std::string, std::string, std::string>{"Prog v2.hex", "Prog v2.hex",
                                                            "Prog v2"},
          {longName, longName.substr(0, 119), std::string(126, 'p')}}) {
        const std::string path = dir.File(name);
        HexWriter().Bytes(0x5000, {1}).EndOfFile().Save(path);
        const utimbuf times{1614888000, 1614888000};
        ASSERT_EQ(utime(path.c_str(), &times), 0);
        CProgramImage image(0, 12, path.c_str(), MODE_PUC, 0);
        ASSERT_EQ(image.loaded, 1);
        EXPECT_EQ(std::string(image.foundFileName), found);
        EXPECT_STREQ(image.fileDate, "05.03.21");
        EXPECT_EQ(std::strlen(image.loadDate), 8u);
        EXPECT_EQ(std::string(image.baseName), dir.File(base));
    }
}

}  // namespace
}  // namespace orv::test
