// The HEX loader's messages and results, and the download values derived from an image.
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

#include "os/Console.h"
#include "support/HexWriter.h"
#include "support/TestFiles.h"

namespace orv::test {
namespace {

constexpr uint32_t kBlock = CProgramImage::kSubblockSize;
const std::string kRead = "Error reading hex file\n";
const std::string kHigh = "Error reading hex file - addres higher that 0x20000 referenced\n";
const std::string kSum = "Check summ error\n";
const std::string kEof = HexRecord(0x01, 0, {});
const std::string kData = HexRecord(0x00, 0x5000, {0x01, 0x02, 0x03});
const std::string kNoEnd = "the file ends without an end-of-file record";
const std::string kNoColon = "a record must start with ':'";
const std::string kBadSum = "the record fails its checksum";

struct LoadedImage {
    std::unique_ptr<CProgramImage> image;
    std::string output, reason;  // what the load printed, and told on standard error
};

LoadedImage LoadHexText(const TempDir& dir, const std::string& text, uint32_t mode = MODE_PUC,
                        uint32_t baseAddress = 0, const std::string& name = "test1.hex") {
    WriteFile(dir.File(name), text);
    ConsoleCapture capture;
    auto image = std::make_unique<CProgramImage>(0, 12, dir.File(name).c_str(), mode, baseAddress);
    return {std::move(image), capture.Text(), capture.ErrorText()};
}

// The same record with its checksum one off.
std::string Broken(std::string record) {
    char pair[3];
    const unsigned sum = std::stoul(record.substr(record.size() - 2), nullptr, 16) + 1;
    std::snprintf(pair, sizeof pair, "%02X", sum & 0xFFu);
    return record.replace(record.size() - 2, 2, pair);
}
std::string Ela(uint16_t upper) {
    return HexRecord(0x04, 0, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)});
}
std::string Rec(uint16_t address, const std::vector<uint8_t>& bytes) {
    return HexRecord(0x00, address, bytes) + "\n";
}

struct LoadCase {
    const char* name;
    std::string text;
    std::string output;                                    // empty: the file loads
    std::string reason = "";                               // set: the line on standard error
    std::vector<std::pair<uint32_t, uint8_t>> holds = {};  // image bytes afterwards
    uint32_t pdoBase = 0;                                  // set: loaded as a PDO image
};

std::vector<LoadCase> LoadCases() {
    std::string lower = kData;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string letterG = HexRecord(0x00, 0x5000, {0xAB});
    letterG.replace(9, 2, "AG");
    const uint32_t pdo = 0x01010000;
    // clang-format off
    return {
        {"empty file", "", kRead, "line 1: " + kNoEnd},
        {"no end record, last line without line end", kData + "\n" + kData, ""},
        {"no end record, last line with line end", kData + "\n", kRead, "line 2: " + kNoEnd},
        {"end record without line end", kData + "\n" + kEof, ""},
        {"CR LF line ends", Ela(1) + "\r\n" + kData + "\r\n" + kEof + "\r\n", "", "", {{0x15001, 2}}},
        {"lone CR is one line end", kData + "\r" + kEof, ""},
        {"blank line between records", kData + "\n\n" + kEof + "\n", kRead, "line 2: " + kNoColon},
        {"trailing blank after a record", kData + " \n" + kEof + "\n", kRead},
        {"record not starting with a colon", Rec(0x10, {1}) + " " + kData, kRead, "line 2: " + kNoColon},
        {"text after the end record is not read", kEof + "\ngarbage", ""},
        {"a type other than 00 and 04 ends the load",
         HexRecord(0x03, 0, {0, 0, 0, 0}) + "\n" + Rec(0x5000, {0x77}), "", "", {{0x5000, 0xFF}}},
        {"count 0 data record, good checksum", Rec(0x1234, {}) + kEof, ""},
        // A failed load keeps what it stored and derives nothing from it.
        {"data checksum wrong", Rec(0x5000, {0x42}) + Broken(HexRecord(0, 0x5800, {0x43})) + "\n",
         kSum, "line 2: " + kBadSum, {{0x5000, 0x42}}},
        {"lower-case digits", lower + "\n" + kEof, "", "", {{0x5000, 0x01}}},
        {"letter beyond F", letterG + "\n" + kEof, kSum},
        {"cut inside the data", kData + "\n" + kData.substr(0, 13), kRead,
         "line 2: the record is cut short"},
        {"cut before the checksum", kData.substr(0, kData.size() - 2), kRead},
        {"cut inside the type", kData.substr(0, 8), kRead},
        {"last image byte", Ela(1) + "\n" + Rec(0xFFFF, {0x5A}) + kEof, "", "", {{0x1FFFF, 0x5A}}},
        {"first byte beyond the image", Ela(2) + "\n" + Rec(0, {0x5A}), kHigh,
         "line 2: data beyond the 128 KiB image"},
        {"record running past the image", Ela(1) + "\n" + Rec(0xFFFF, {1, 2}), kHigh},
        {"type 04 with count 3", HexRecord(0x04, 0, {0, 1, 2}) + "\n",
         "Invalid extended linear address record\n"},
        {"type 04 checksum wrong", Broken(Ela(1)) + "\n" + kEof,
         "Invalid extended linear address check sum\n", "line 1: " + kBadSum},
        // The address field of a type-04 record is neither checked nor summed.
        {"type 04 address field ignored", ":021234040001F9\n" + kEof, ""},
        {"type 04 at the end without line end", Ela(1), ""},
        {"PDO: the base is image offset 0",
         HexWriter().Bytes(pdo, {0xA1}).Bytes(pdo + 0x14000, {0xB2}).EndOfFile().Text(), "", "",
         {{0, 0xA1}, {0x14000, 0xB2}}, pdo},
        {"PDO: below the base is skipped", Ela(0x0100) + "\n" + Rec(0, {1, 2}) + kEof, "", "",
         {{0, 0xFF}}, pdo},
        {"PDO: skipped bytes still have their checksum checked",
         Ela(0x0100) + "\n" + Broken(HexRecord(0x00, 0, {1, 2})) + "\n", kSum, "", {}, pdo},
        {"PDO: just beyond the image is rejected", Ela(0x0103) + "\n" + Rec(0, {1}), kHigh, "", {}, pdo},
        {"PDO: offset 0x300000 is rejected", Ela(0x0131) + "\n" + Rec(0, {1}), kHigh, "", {}, pdo},
        {"PDO: offset 0x300001 is skipped", Ela(0x0131) + "\n" + Rec(1, {1}) + kEof, "", "", {}, pdo},
        {"PUC: below the base is not skipped", Ela(0xFFFF) + "\n" + Rec(0xFFFF, {1}), kHigh},
    };
    // clang-format on
}

TEST(HexLoader, MessagesReasonsResultsAndStoredBytes) {
    TempDir dir;
    for (const LoadCase& c : LoadCases()) {
        SCOPED_TRACE(c.name);
        const LoadedImage r =
            LoadHexText(dir, c.text, c.pdoBase != 0 ? MODE_HT_PDO : MODE_PUC, c.pdoBase);
        EXPECT_EQ(r.output, c.output);
        EXPECT_EQ(r.image->loaded, c.output.empty() ? 1 : 0);
        if (c.output.empty() || !c.reason.empty()) {
            const std::string where = "HEX file " + dir.File("test1.hex") + ", ";
            EXPECT_EQ(r.reason, c.reason.empty() ? "" : where + c.reason + "\n");
        }
        for (const auto& [offset, byte] : c.holds) {
            EXPECT_EQ(r.image->data[offset], byte) << std::hex << offset;
        }
        if (!c.output.empty()) {
            EXPECT_EQ(r.image->totalUsedBytes, 0u);
            EXPECT_EQ(+r.image->bootParams.checksum, 0);
        }
    }
}

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

    const LoadedImage empty = LoadBlocks(dir, {}, MODE_HT);
    EXPECT_TRUE(empty.image->FillBlockGaps());
    EXPECT_EQ(empty.image->totalUsedBytes, 0u);
}

TEST(ProgramImage, CompareBlock) {
    TempDir dir;
    const LoadedImage result = LoadBlocks(dir, {10, 63}, MODE_PUC);
    CProgramImage& image = *result.image;
    EXPECT_FALSE(image.CompareBlock(10 * kBlock));
    std::memcpy(image.readBack + 10 * kBlock, image.data + 10 * kBlock, kBlock);
    EXPECT_TRUE(image.CompareBlock(10 * kBlock));
    image.readBack[11 * kBlock - 1] ^= 1;
    EXPECT_FALSE(image.CompareBlock(10 * kBlock));
    std::memcpy(image.readBack + 63 * kBlock, image.data + 63 * kBlock, kBlock);
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
