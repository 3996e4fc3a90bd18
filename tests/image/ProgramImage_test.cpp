#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "ImageLoad.h"
#include "platform/Console.h"
#include "support/HexWriter.h"

namespace orv::test {
namespace {

constexpr uint32_t kBlock = CProgramImage::kSubblockSize;

// Packed wire fields are compared through unary plus: the assertions bind references, which a
// misaligned field cannot back.

std::vector<uint8_t> Pattern(size_t count, uint8_t seed) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<uint8_t>(seed + i * 7);
    }
    return bytes;
}

uint16_t SumOf(const std::vector<uint8_t>& bytes, size_t fillCount) {
    uint32_t sum = 0xFFu * static_cast<uint32_t>(fillCount);
    for (uint8_t b : bytes)
        sum += b;
    return static_cast<uint16_t>(sum);
}

LoadedImage LoadBlocks(const TempDir& dir, const std::vector<uint32_t>& blocks, uint32_t mode,
                       uint32_t baseAddress = 0) {
    HexWriter hex;
    for (uint32_t block : blocks) {
        hex.Bytes(baseAddress + block * kBlock, Pattern(16, static_cast<uint8_t>(block)));
    }
    return LoadHexText(dir, hex.EndOfFile().Text(), mode, baseAddress);
}

// Header and descriptor are sent as they stand, so they are checked byte for byte.
TEST(ProgramImage, PucSingleSubblockOnTheWire) {
    TempDir dir;
    const std::vector<uint8_t> bytes = Pattern(kBlock, 3);
    const uint16_t sum = SumOf(bytes, 0);
    const std::string path = dir.File("t.hex");
    HexWriter().Bytes(0x5000, bytes).EndOfFile().Save(path);
    CProgramImage image(3, 0x22, path.c_str(), MODE_PUC, 0);
    ASSERT_EQ(image.loaded, 1);
    for (uint16_t i = 0; i < 64; ++i) {
        EXPECT_EQ(image.IsBlockUsed(i), i == 10) << i;
    }
    EXPECT_EQ(image.totalUsedBytes, kBlock);
    EXPECT_EQ(image.BlockChecksum(10), sum);
    const std::vector<uint8_t> header = {
        3,    0x22, 0, 0x00, 0x20, 0x00, 0x08, uint8_t(sum), uint8_t(sum >> 8),
        0xF4, 0x01, 0, 0,    0x80, 0x01, 0x00, 0x02};
    const auto* headerWire = reinterpret_cast<const uint8_t*>(&image.bootParams);
    EXPECT_EQ(std::vector<uint8_t>(headerWire, headerWire + 17), header);
    const std::vector<uint8_t> descriptor = {
        0, 0x00, 0x50, 0x00, 0x08, uint8_t(sum), uint8_t(sum >> 8), 0xE8, 0x03, 0, 0};
    const auto* descriptorWire = reinterpret_cast<const uint8_t*>(&image.subblocks[10]);
    EXPECT_EQ(std::vector<uint8_t>(descriptorWire, descriptorWire + 11), descriptor);
    EXPECT_EQ(+image.subblocks[11].checksum, 0);
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
    ASSERT_EQ(image.loaded, 1);
    uint16_t expectedSum = 0;
    for (uint16_t i = 0; i < 64; ++i) {
        const bool downloaded = (i >= 10 && i <= 29) || (i >= 36 && i <= 61);
        EXPECT_EQ(image.IsBlockUsed(i), downloaded) << i;
        EXPECT_EQ(+image.subblocks[i].checksum, downloaded ? image.BlockChecksum(i) : 0) << i;
        if (downloaded)
            expectedSum = static_cast<uint16_t>(expectedSum + image.BlockChecksum(i));
        // Bytes of the boot code's areas still stand in the image.
        EXPECT_EQ(image.data[i * kBlock], static_cast<uint8_t>(i)) << i;
        EXPECT_EQ(+image.subblocks[i].page, i < 32 ? 0 : 6) << i;
    }
    EXPECT_EQ(image.totalUsedBytes, 94208u);
    EXPECT_EQ(+image.bootParams.length, 0x7000);
    EXPECT_EQ(+image.bootParams.checksum, expectedSum);
    EXPECT_EQ(+image.bootParams.startAddress, 0x2000);
    EXPECT_FALSE(image.IsBlockUsed(64));
    EXPECT_FALSE(image.IsBlockUsed(0xFFFF));
}

TEST(ProgramImage, PucDataOutsideItsAreasLoadsButIsNotDownloaded) {
    TempDir dir;
    const LoadedImage result = LoadBlocks(dir, {0, 9, 30, 35, 62, 63}, MODE_PUC);
    ASSERT_EQ(result.image->loaded, 1);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(result.image->totalUsedBytes, 0u);
    EXPECT_EQ(+result.image->bootParams.startAddress, 0);
    EXPECT_EQ(+result.image->bootParams.checksum, 0);
}

TEST(ProgramImage, HtUsesPageSixEverywhere) {
    TempDir dir;
    const LoadedImage result = LoadBlocks(dir, {0}, MODE_HT);
    const CProgramImage& image = *result.image;
    ASSERT_EQ(image.loaded, 1);
    EXPECT_EQ(+image.bootParams.page, 6);
    EXPECT_EQ(+image.bootParams.startAddress, 0x0000);
    for (uint32_t i = 0; i < 64; ++i) {
        EXPECT_EQ(+image.subblocks[i].page, 6) << i;
        EXPECT_EQ(+image.subblocks[i].address, (i * kBlock) & 0xFFFF) << i;
    }
    EXPECT_EQ(+image.subblocks[32].address, +image.subblocks[0].address);
}

TEST(ProgramImage, HtStartAddressIsTheFirstUsedSubblock) {
    TempDir dir;
    const LoadedImage result = LoadBlocks(dir, {40, 5}, MODE_HT);
    ASSERT_EQ(result.image->loaded, 1);
    EXPECT_EQ(+result.image->bootParams.startAddress, 5 * kBlock);
    EXPECT_EQ(result.image->totalUsedBytes, 2 * kBlock);
}

TEST(ProgramImage, PdoPagesAndAddressesFollowTheBase) {
    struct Case {
        uint32_t baseAddress;
        uint32_t blockBase;
        uint32_t block;
        uint8_t page;
        uint16_t address;
    };
    const Case cases[] = {
        {0x01010000, 0x010000, 0, 1, 0x0000},
        {0x01010000, 0x010000, 40, 2, 0x4000},
        {0x01010000, 0x010000, 63, 2, 0xF800},
        {0x8000, 0, 32, 1, 0x0000},
        {0x8000, 0, 31, 0, 0xF800},
        {0xFFFFFF, 0, 1, 0, 0x0800},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.baseAddress << " block " << c.block);
        const LoadedImage result = LoadBlocks(dir, {c.block}, MODE_HT_PDO, c.baseAddress);
        const CProgramImage& image = *result.image;
        ASSERT_EQ(image.loaded, 1);
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
    hex.Bytes(0x5000, std::vector<uint8_t>(kBlock, 0xFF))
        .Bytes(0x5800, std::vector<uint8_t>(kBlock, 0x00));
    const LoadedImage result = LoadHexText(dir, hex.EndOfFile().Text());
    const CProgramImage& image = *result.image;
    ASSERT_EQ(image.loaded, 1);
    EXPECT_EQ(image.BlockChecksum(10), 0xF800);
    EXPECT_EQ(image.BlockChecksum(11), 0);
    EXPECT_EQ(image.BlockChecksum(12), 0xF800);  // never written: all fill bytes
    EXPECT_EQ(image.BlockChecksum(64), 0);

    HexWriter many;
    for (uint32_t block = 10; block < 20; ++block) {
        many.Bytes(block * kBlock, std::vector<uint8_t>(kBlock, 0xFF));
    }
    const LoadedImage wrapped = LoadHexText(dir, many.EndOfFile().Text());
    EXPECT_EQ(+wrapped.image->bootParams.checksum, static_cast<uint16_t>(10 * 0xF800));
}

TEST(ProgramImage, FillBlockGapsClosesTheRange) {
    TempDir dir;
    const LoadedImage result = LoadBlocks(dir, {3, 7}, MODE_HT_PDO, 0x01010000);
    CProgramImage& image = *result.image;
    ASSERT_EQ(image.loaded, 1);
    const uint16_t startAddress = image.bootParams.startAddress;
    const uint16_t sumBefore = image.bootParams.checksum;
    EXPECT_TRUE(image.FillBlockGaps());
    for (uint16_t i = 0; i < 64; ++i) {
        EXPECT_EQ(image.IsBlockUsed(i), i >= 3 && i <= 7) << i;
    }
    EXPECT_EQ(image.totalUsedBytes, 5 * kBlock);
    EXPECT_EQ(+image.bootParams.length, 5 * kBlock);
    EXPECT_EQ(+image.bootParams.checksum, static_cast<uint16_t>(sumBefore + 3 * 0xF800));
    EXPECT_EQ(+image.subblocks[5].checksum, 0xF800);
    EXPECT_EQ(+image.bootParams.startAddress, startAddress);
    EXPECT_EQ(+image.subblocks[8].checksum, 0);
}

TEST(ProgramImage, FillBlockGapsWithNothingUsedChangesNothing) {
    TempDir dir;
    const LoadedImage result = LoadBlocks(dir, {}, MODE_HT_PDO, 0x01010000);
    ASSERT_EQ(result.image->loaded, 1);
    EXPECT_TRUE(result.image->FillBlockGaps());
    EXPECT_EQ(result.image->totalUsedBytes, 0u);
    EXPECT_EQ(+result.image->bootParams.length, 0);
    EXPECT_EQ(+result.image->bootParams.checksum, 0);
}

TEST(ProgramImage, CompareBlock) {
    TempDir dir;
    const LoadedImage result = LoadBlocks(dir, {10, 63}, MODE_PUC);
    CProgramImage& image = *result.image;
    ASSERT_EQ(image.loaded, 1);
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

TEST(ProgramImage, DumpFilesLieBesideTheHexFile) {
    TempDir dir;
    const LoadedImage result = LoadBlocks(dir, {10}, MODE_PUC);
    CProgramImage& image = *result.image;
    ASSERT_EQ(image.loaded, 1);
    EXPECT_EQ(std::string(image.baseName), dir.File("test1"));
    image.readBack[5] = 0x00;
    ConsoleCapture capture;
    image.WriteImageDump();
    image.WriteReadBackDump();
    EXPECT_EQ(capture.Text(), "");
    const std::string ori = ReadFile(dir.File("test1.ori"));
    const std::string res = ReadFile(dir.File("test1.res"));
    ASSERT_EQ(ori.size(), 131072u);
    ASSERT_EQ(res.size(), 131072u);
    EXPECT_EQ(std::memcmp(ori.data(), image.data, ori.size()), 0);
    EXPECT_EQ(std::memcmp(res.data(), image.readBack, res.size()), 0);

    // An older, longer dump is truncated.
    WriteFile(dir.File("test1.ori"), std::string(200000, 'x'));
    image.WriteImageDump();
    EXPECT_EQ(ReadFile(dir.File("test1.ori")).size(), 131072u);
}

TEST(ProgramImage, DumpIntoAMissingDirectoryIsSilent) {
    TempDir dir;
    const LoadedImage result = LoadBlocks(dir, {10}, MODE_PUC);
    std::strcpy(result.image->baseName, dir.File("gone/test1").c_str());
    ConsoleCapture capture;
    result.image->WriteImageDump();
    result.image->WriteReadBackDump();
    EXPECT_EQ(capture.Text(), "");
}

TEST(ProgramImage, ShortNameKeepsItsWholeNameAsDumpStem) {
    TempDir dir;
    WriteFile(dir.File("a.h"), ":00000001FF\n");
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.Path().c_str()), 0);
    CProgramImage image(0, 12, "a.h", MODE_PUC, 0);
    ASSERT_EQ(chdir(previous), 0);
    EXPECT_EQ(image.loaded, 1);
    EXPECT_STREQ(image.baseName, "a.h");
    EXPECT_STREQ(image.foundFileName, "a.h");
}

class LocalTimeZone {
  public:
    explicit LocalTimeZone(const char* zone) {
        const char* old = std::getenv("TZ");
        hadOld_ = old != nullptr;
        old_ = hadOld_ ? old : "";
        setenv("TZ", zone, 1);
        tzset();
    }
    ~LocalTimeZone() {
        hadOld_ ? setenv("TZ", old_.c_str(), 1) : unsetenv("TZ");
        tzset();
    }

  private:
    bool hadOld_;
    std::string old_;
};

TEST(ProgramImage, NamesAndDates) {
    LocalTimeZone zone("UTC-10");  // ten hours east of UTC
    TempDir dir;
    HexWriter hex;
    const std::string path = dir.File("Prog v2.hex");
    hex.EndOfFile().Save(path);
    // 2021-03-04 20:00 UTC is already the 5th in that zone.
    const utimbuf times{1614888000, 1614888000};
    ASSERT_EQ(utime(path.c_str(), &times), 0);
    const std::time_t before = std::time(nullptr);
    CProgramImage image(0, 12, path.c_str(), MODE_PUC, 0);
    ASSERT_EQ(image.loaded, 1);
    EXPECT_STREQ(image.fileName, path.c_str());
    EXPECT_STREQ(image.foundFileName, "Prog v2.hex");
    EXPECT_STREQ(image.fileDate, "05.03.21");
    EXPECT_EQ(image.fileVersion, 0u);
    char today[20];
    std::tm local{};
    localtime_r(&before, &local);
    std::strftime(today, sizeof today, "%d.%m.%y", &local);
    EXPECT_STREQ(image.loadDate, today);
}

TEST(ProgramImage, LongFoundNameIsCutTo119Characters) {
    TempDir dir;
    const std::string name = std::string(150, 'n') + ".hex";
    const LoadedImage result = LoadHexText(dir, ":00000001FF\n", MODE_PUC, 0, name);
    EXPECT_EQ(result.image->loaded, 1);
    EXPECT_EQ(std::string(result.image->foundFileName), name.substr(0, 119));
}

}  // namespace
}  // namespace orv::test
