#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ImageLoad.h"
#include "platform/Console.h"
#include "support/HexWriter.h"

namespace orv::test {
namespace {

const std::string kReadError = "Error reading hex file\n";
const std::string kTooHigh = "Error reading hex file - addres higher that 0x20000 referenced\n";
const std::string kChecksumError = "Check summ error\n";

const std::string kEof = HexRecord(0x01, 0, {});
const std::string kData = HexRecord(0x00, 0x5000, {0x01, 0x02, 0x03});

// The same record with its checksum one off.
std::string BreakChecksum(std::string record) {
    const unsigned wrong = (std::stoul(record.substr(record.size() - 2), nullptr, 16) + 1) & 0xFF;
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", wrong);
    return record.replace(record.size() - 2, 2, pair);
}

std::string Ela(uint16_t upper) {
    return HexRecord(0x04, 0, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)});
}

struct LoadCase {
    const char* name;
    std::string text;
    std::string output;
    bool loaded;
    uint32_t mode = MODE_PUC;
    uint32_t baseAddress = 0;
};

std::vector<LoadCase> LoadCases() {
    std::string lower = kData;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string letterG = HexRecord(0x00, 0x5000, {0xAB});
    letterG.replace(9, 2, "AG");
    const uint32_t pdoBase = 0x01010000;
    return {
        {"empty file", "", kReadError, false},
        {"LF line ends", kData + "\n" + kEof + "\n", "", true},
        {"CR LF line ends", kData + "\r\n" + kEof + "\r\n", "", true},
        {"no end record, last line without line end", kData + "\n" + kData, "", true},
        {"no end record, last line with line end", kData + "\n", kReadError, false},
        {"end record without line end", kData + "\n" + kEof, "", true},
        {"blank line between records", kData + "\n\n" + kEof + "\n", kReadError, false},
        {"blank line between CR LF records", kData + "\r\n\r\n" + kEof, kReadError, false},
        {"trailing blank after a record", kData + " \n" + kEof + "\n", kReadError, false},
        {"lone CR is one line end", kData + "\r" + kEof, "", true},
        {"record not starting with a colon", " " + kData + "\n" + kEof, kReadError, false},
        {"text after the end record is not read", kEof + "\ngarbage", "", true},
        {"type 02 ends the load", HexRecord(0x02, 0, {0x10, 0x00}) + "\nxx", "", true},
        {"type 03 ends the load", HexRecord(0x03, 0, {0, 0, 0, 0}) + "\nxx", "", true},
        {"type 05 ends the load", HexRecord(0x05, 0, {0, 0, 0, 0}) + "\nxx", "", true},
        {"count 0 data record, good checksum", HexRecord(0x00, 0x1234, {}) + "\n" + kEof, "", true},
        {"count 0 data record, bad checksum", BreakChecksum(HexRecord(0x00, 0x1234, {})) + "\n",
         kChecksumError, false},
        {"data checksum wrong", BreakChecksum(kData) + "\n" + kEof, kChecksumError, false},
        {"lower-case digits", lower + "\n" + kEof, "", true},
        {"letter beyond F", letterG + "\n" + kEof, kChecksumError, false},
        {"cut inside the data", kData.substr(0, 13), kReadError, false},
        {"cut before the checksum", kData.substr(0, kData.size() - 2), kReadError, false},
        {"cut inside the type", kData.substr(0, 8), kReadError, false},
        {"last image byte", Ela(1) + "\n" + HexRecord(0x00, 0xFFFF, {0x5A}) + "\n" + kEof, "",
         true},
        {"first byte beyond the image", Ela(2) + "\n" + HexRecord(0x00, 0, {0x5A}) + "\n", kTooHigh,
         false},
        {"record running past the image", Ela(1) + "\n" + HexRecord(0x00, 0xFFFF, {1, 2}) + "\n",
         kTooHigh, false},
        {"type 04 with count 3", HexRecord(0x04, 0, {0, 1, 2}) + "\n",
         "Invalid extended linear address record\n", false},
        {"type 04 checksum wrong", BreakChecksum(Ela(1)) + "\n" + kEof,
         "Invalid extended linear address check sum\n", false},
        // The address field of a type-04 record is neither checked nor summed.
        {"type 04 address field ignored",
         ":02123404"
         "0001"
         "F9\n" +
             kEof,
         "", true},
        {"type 04 at the end without line end", Ela(1), "", true},
        {"PDO: below the base is skipped",
         Ela(0x0100) + "\n" + HexRecord(0x00, 0, {1, 2}) + "\n" + kEof, "", true, MODE_HT_PDO,
         pdoBase},
        {"PDO: skipped bytes still have their checksum checked",
         Ela(0x0100) + "\n" + BreakChecksum(HexRecord(0x00, 0, {1, 2})) + "\n", kChecksumError,
         false, MODE_HT_PDO, pdoBase},
        {"PDO: just beyond the image is rejected",
         Ela(0x0103) + "\n" + HexRecord(0x00, 0, {1}) + "\n", kTooHigh, false, MODE_HT_PDO,
         pdoBase},
        {"PDO: offset 0x300000 is rejected", Ela(0x0131) + "\n" + HexRecord(0x00, 0, {1}) + "\n",
         kTooHigh, false, MODE_HT_PDO, pdoBase},
        {"PDO: offset 0x300001 is skipped",
         Ela(0x0131) + "\n" + HexRecord(0x00, 1, {1}) + "\n" + kEof, "", true, MODE_HT_PDO,
         pdoBase},
        {"PUC: below the base is not skipped",
         Ela(0xFFFF) + "\n" + HexRecord(0x00, 0xFFFF, {1}) + "\n", kTooHigh, false},
    };
}

TEST(HexLoader, MessagesAndResults) {
    TempDir dir;
    for (const LoadCase& c : LoadCases()) {
        SCOPED_TRACE(c.name);
        const LoadedImage result = LoadHexText(dir, c.text, c.mode, c.baseAddress);
        EXPECT_EQ(result.output, c.output);
        EXPECT_EQ(result.image->loaded, c.loaded ? 1 : 0);
    }
}

TEST(HexLoader, StoresDataRecordsAtTheirOffsets) {
    TempDir dir;
    HexWriter hex("\r\n");
    hex.Data(0x5000, {0x11, 0x22}).Bytes(0x1FFFF, {0x33}).LineEnd("\n").Bytes(0x8000, {0x44});
    const LoadedImage result = LoadHexText(dir, hex.EndOfFile().Text());
    ASSERT_EQ(result.image->loaded, 1);
    EXPECT_EQ(result.image->data[0x5000], 0x11);
    EXPECT_EQ(result.image->data[0x5001], 0x22);
    EXPECT_EQ(result.image->data[0x5002], 0xFF);
    EXPECT_EQ(result.image->data[0x1FFFF], 0x33);
    EXPECT_EQ(result.image->data[0x8000], 0x44);
    EXPECT_EQ(result.image->extendedLinearAddress, 0);
}

TEST(HexLoader, NothingAfterAnEndingRecordIsStored) {
    TempDir dir;
    const std::string text =
        HexRecord(0x03, 0, {0, 0, 0, 0}) + "\n" + HexRecord(0x00, 0x5000, {0x77}) + "\n";
    const LoadedImage result = LoadHexText(dir, text);
    ASSERT_EQ(result.image->loaded, 1);
    EXPECT_EQ(result.image->data[0x5000], 0xFF);
    EXPECT_FALSE(result.image->IsBlockUsed(10));
}

TEST(HexLoader, FailedLoadKeepsStoredBytesAndDerivesNothing) {
    TempDir dir;
    const std::string text = HexRecord(0x00, 0x5000, {0x42}) + "\n" +
                             BreakChecksum(HexRecord(0x00, 0x5800, {0x43})) + "\n";
    const LoadedImage result = LoadHexText(dir, text);
    EXPECT_EQ(result.output, kChecksumError);
    EXPECT_EQ(result.image->loaded, 0);
    EXPECT_EQ(result.image->data[0x5000], 0x42);
    EXPECT_EQ(result.image->totalUsedBytes, 0u);
    EXPECT_EQ(+result.image->bootParams.checksum, 0);
    EXPECT_EQ(+result.image->subblocks[10].checksum, 0);
}

TEST(HexLoader, PdoImageStartsAtItsBaseAddress) {
    TempDir dir;
    HexWriter hex;
    hex.Bytes(0x01010000, {0xA1}).Bytes(0x01024000, {0xB2}).EndOfFile();
    const LoadedImage result = LoadHexText(dir, hex.Text(), MODE_HT_PDO, 0x01010000);
    ASSERT_EQ(result.image->loaded, 1);
    EXPECT_EQ(result.image->data[0], 0xA1);
    EXPECT_EQ(result.image->data[0x14000], 0xB2);
}

TEST(HexLoader, MissingFile) {
    TempDir dir;
    ConsoleCapture capture;
    CProgramImage image(0, 12, dir.File("absent.hex").c_str(), MODE_PUC, 0);
    EXPECT_EQ(capture.Text(), "Error: Can not find HEX file\n");
    EXPECT_EQ(image.loaded, 0);
}

TEST(HexLoader, DirectoryCannotBeOpened) {
    TempDir dir;
    ConsoleCapture capture;
    CProgramImage image(0, 12, dir.Path().c_str(), MODE_PUC, 0);
    EXPECT_EQ(capture.Text(), "Error: Can not open HEX file\n");
    EXPECT_EQ(image.loaded, 0);
}

TEST(HexLoader, UnreadableFileCannotBeOpened) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "file permissions do not bind root";
    }
    TempDir dir;
    const std::string path = dir.File("locked.hex");
    WriteFile(path, kEof + "\n");
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    ConsoleCapture capture;
    CProgramImage image(0, 12, path.c_str(), MODE_PUC, 0);
    EXPECT_EQ(capture.Text(), "Error: Can not open HEX file\n");
    EXPECT_EQ(image.loaded, 0);
    EXPECT_STREQ(image.foundFileName, "locked.hex");
}

TEST(HexLoader, StreamErrorIsReportedAfterTheRecordError) {
    // Reading this process's memory from address 0 fails with an I/O error.
    ConsoleCapture capture;
    CProgramImage image(0, 12, "/proc/self/mem", MODE_PUC, 0);
    EXPECT_EQ(capture.Text(), kReadError + "Error: Error when reading HEX file\n");
    EXPECT_EQ(image.loaded, 0);
}

}  // namespace
}  // namespace orv::test
