// The values an image gives the download, its names and dumps, and files that cannot be read.
#include "image/ProgramImage.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <utime.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ImageLoad.h"
#include "support/HexWriter.h"

namespace orv::test {
namespace {

constexpr uint32_t kBlock = CProgramImage::kSubblockSize;
const std::string kRead = "Error reading hex file\n";
const std::string kEof = HexRecord(0x01, 0, {});

TEST(HexLoader, FilesThatCannotBeRead) {
    TempDir dir;
    const std::string absent = dir.File("absent.hex");
    // Reading this process's memory from address 0 fails with an I/O error.
    const struct {
        std::string path, output, reason;
    } cases[] = {
        {absent, "Error: Can not find HEX file\n", "HEX file " + absent + ": not found\n"},
        {dir.Path(), "Error: Can not open HEX file\n",
         "HEX file " + dir.Path() + ": is a directory\n"},
        {"/proc/self/mem", kRead + "Error: Error when reading HEX file\n",
         "HEX file /proc/self/mem: read error\n"},
    };
    for (const auto& c : cases) {
        ConsoleCapture capture;
        CProgramImage image(0, 12, c.path.c_str(), MODE_PUC, 0);
        EXPECT_EQ(capture.Text(), c.output);
        EXPECT_THAT(capture.ErrorText(), testing::EndsWith(c.reason));
        EXPECT_EQ(image.loaded, 0);
    }
}

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

// Packed wire fields are compared through unary plus: the assertions bind references, which a
// misaligned field cannot back. Header and descriptor are sent as they stand.
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
        expectedSum =
            static_cast<uint16_t>(expectedSum + (downloaded ? image.BlockChecksum(i) : 0));
        // Bytes of the boot code's areas still stand in the image.
        EXPECT_EQ(image.data[i * kBlock], static_cast<uint8_t>(i));
        EXPECT_EQ(+image.subblocks[i].page, i < 32 ? 0 : 6);
    }
    EXPECT_EQ(image.totalUsedBytes, 94208u);
    EXPECT_EQ(+image.bootParams.length, 0x7000);
    EXPECT_EQ(+image.bootParams.checksum, expectedSum);
    EXPECT_EQ(+image.bootParams.startAddress, 0x2000);
    EXPECT_FALSE(image.IsBlockUsed(64));
}

// HT images use page 6 throughout; PDO pages and addresses follow the base address.
TEST(ProgramImage, HtAndPdoPagesAndAddresses) {
    const struct {
        uint32_t mode, baseAddress, blockBase, block;
        uint8_t bootPage, page;
        uint16_t address, startAddress;
    } cases[] = {{MODE_HT, 0, 0, 40, 6, 6, 0x4000, 5 * kBlock},
                 {MODE_HT_PDO, 0x01010000, 0x010000, 0, 0, 1, 0x0000, 0x0000},
                 {MODE_HT_PDO, 0x01010000, 0x010000, 40, 0, 2, 0x4000, 0x4000},
                 {MODE_HT_PDO, 0x8000, 0, 32, 0, 1, 0x0000, 0x0000},
                 {MODE_HT_PDO, 0x8000, 0, 31, 0, 0, 0xF800, 0xF800},
                 {MODE_HT_PDO, 0xFFFFFF, 0, 1, 0, 0, 0x0800, 0x0800}};
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.baseAddress << " block " << c.block);
        const std::vector<uint32_t> blocks =
            c.mode == MODE_HT ? std::vector<uint32_t>{40, 5} : std::vector<uint32_t>{c.block};
        const LoadedImage result = LoadBlocks(dir, blocks, c.mode, c.baseAddress);
        const CProgramImage& image = *result.image;
        EXPECT_EQ(image.blockBase, c.blockBase);
        EXPECT_EQ(+image.bootParams.page, c.bootPage);
        EXPECT_EQ(+image.subblocks[c.block].page, c.page);
        EXPECT_EQ(+image.subblocks[c.block].address, c.address);
        EXPECT_EQ(+image.bootParams.startAddress, c.startAddress);
        EXPECT_EQ(image.totalUsedBytes, blocks.size() * kBlock);
        EXPECT_EQ(image.data[c.block * kBlock], static_cast<uint8_t>(c.block));
    }
}

TEST(ProgramImage, ChecksumsWrapAndFillBlockGapsClosesTheRange) {
    TempDir dir;
    HexWriter hex;
    for (uint32_t block : {10u, 11u, 14u})
        hex.Bytes(block * kBlock, std::vector<uint8_t>(kBlock, block == 11 ? 0x00 : 0xFF));
    const LoadedImage result = LoadHexText(dir, hex.EndOfFile().Text(), MODE_HT);
    CProgramImage& image = *result.image;
    EXPECT_EQ(image.BlockChecksum(10), 0xF800);
    EXPECT_EQ(image.BlockChecksum(11), 0);
    EXPECT_EQ(image.BlockChecksum(64), 0);
    EXPECT_EQ(+image.bootParams.checksum, static_cast<uint16_t>(2 * 0xF800));
    EXPECT_TRUE(image.FillBlockGaps());
    for (uint16_t i = 0; i < 64; ++i)
        EXPECT_EQ(image.IsBlockUsed(i), i >= 10 && i <= 14) << i;
    EXPECT_EQ(+image.bootParams.length, 5 * kBlock);
    EXPECT_EQ(image.totalUsedBytes, 5 * kBlock);
    EXPECT_EQ(+image.subblocks[12].checksum, 0xF800);  // never written: all fill bytes
    EXPECT_EQ(+image.bootParams.checksum, static_cast<uint16_t>(4 * 0xF800));
    EXPECT_EQ(+image.bootParams.startAddress, 10 * kBlock);
}

TEST(ProgramImage, CompareBlock) {
    TempDir dir;
    const LoadedImage result = LoadBlocks(dir, {10, 63}, MODE_PUC);
    CProgramImage& image = *result.image;
    std::memcpy(image.readBack, image.data, 0x20000);
    image.readBack[11 * kBlock - 1] ^= 1;
    EXPECT_FALSE(image.CompareBlock(10 * kBlock));
    EXPECT_TRUE(image.CompareBlock(0x20000 - kBlock));
    EXPECT_FALSE(image.CompareBlock(0x20000 - kBlock + 1));
    EXPECT_FALSE(image.CompareBlock(-1));
}

// What the dumps hold is proven by the read-back tests; here where they go and that they replace.
TEST(ProgramImage, NamesDatesAndDumps) {
    const char* oldZone = std::getenv("TZ");
    const std::string kept = oldZone != nullptr ? oldZone : "";
    setenv("TZ", "UTC-10", 1);  // ten hours east of UTC
    tzset();
    TempDir dir;
    const std::string path = dir.File("Prog v2.hex");
    HexWriter().Bytes(0x5000, {1}).EndOfFile().Save(path);
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
    EXPECT_STREQ(image.foundFileName, "Prog v2.hex");
    EXPECT_STREQ(image.fileDate, "05.03.21");
    EXPECT_STREQ(image.loadDate, today);
    EXPECT_EQ(std::string(image.baseName), dir.File("Prog v2"));
    WriteFile(dir.File("Prog v2.ori"), std::string(200000, 'x'));
    image.WriteImageDump();
    EXPECT_EQ(ReadFile(dir.File("Prog v2.ori")).size(), 131072u);

    const std::string name = std::string(150, 'n') + ".hex";
    EXPECT_EQ(LoadHexText(dir, kEof, MODE_PUC, 0, name).image->foundFileName, name.substr(0, 119));
    // A name too short for an extension is its own dump stem.
    ConsoleCapture quiet;
    CProgramImage shortName(0, 12, "a.h", MODE_PUC, 0);
    EXPECT_STREQ(shortName.baseName, "a.h");
}

}  // namespace
}  // namespace orv::test
