#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <utility>
#include <vector>

#include "ImageLoad.h"
#include "support/HexWriter.h"

namespace orv::test {
namespace {

const std::string kRead = "Error reading hex file\n";
const std::string kHigh = "Error reading hex file - addres higher that 0x20000 referenced\n";
const std::string kSum = "Check summ error\n";
const std::string kEof = HexRecord(0x01, 0, {});
const std::string kData = HexRecord(0x00, 0x5000, {0x01, 0x02, 0x03});
const std::string kNoEnd = "the file ends without an end-of-file record";
const std::string kBadSum = "the record fails its checksum";

std::string Ela(uint16_t upper) {
    return HexRecord(0x04, 0, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)});
}
std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
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
    const uint32_t pdo = 0x01010000;
    // clang-format off
    return {
        {"empty file", "", kRead, "line 1: " + kNoEnd},
        {"no end record, last line without line end", kData + "\n" + kData, ""},
        {"no end record, last line with line end", kData + "\n", kRead, "line 2: " + kNoEnd},
        {"CR LF line ends", Ela(1) + "\r\n" + kData + "\r\n" + kEof + "\r\n", "", "", {{0x15001, 2}}},
        {"blank line between records", kData + "\n\n" + kEof + "\n", kRead, "line 2: a record must start with ':'"},
        {"a type other than 00 and 04 ends the load", HexRecord(0x03, 0, {0, 0, 0, 0}) + "\n" + Rec(0x5000, {0x77}), "", "", {{0x5000, 0xFF}}},
        {"trailing blank after a record", kData + " \n" + kEof + "\n", kRead},
        {"lower-case digits", Lower(Rec(0x5ABC, {0xDE})) + kEof, "", "", {{0x5ABC, 0xDE}}},
        {"a digit beyond F", ":01500000G05F\n" + kEof, kSum},
        // A record of no data only checks its checksum.
        {"count 0", ":00500000B0\n" + kEof, "", "", {{0x5000, 0xFF}}},
        {"count 0, checksum wrong", ":00500000B1\n" + kEof, kSum},
        // A failed load keeps what it stored and derives nothing from it.
        {"data checksum wrong", Rec(0x5000, {0x42}) + ":015800004365\n",
         kSum, "line 2: " + kBadSum, {{0x5000, 0x42}}},
        {"cut inside the data", kData + "\n" + kData.substr(0, 13), kRead,
         "line 2: the record is cut short"},
        {"last image byte", Ela(1) + "\n" + Rec(0xFFFF, {0x5A}) + kEof, "", "", {{0x1FFFF, 0x5A}}},
        {"first byte beyond the image", Ela(2) + "\n" + Rec(0, {0x5A}), kHigh,
         "line 2: data beyond the 128 KiB image"},
        {"type 04 with count 3", HexRecord(0x04, 0, {0, 1, 2}) + "\n",
         "Invalid extended linear address record\n"},
        {"type 04 checksum wrong", ":020000040001FA\n" + kEof,
         "Invalid extended linear address check sum\n", "line 1: " + kBadSum},
        {"PDO: the base is image offset 0",
         HexWriter().Bytes(pdo, {0xA1}).Bytes(pdo + 0x14000, {0xB2}).EndOfFile().Text(), "", "",
         {{0, 0xA1}, {0x14000, 0xB2}}, pdo},
        {"PDO: below the base is skipped", Ela(0x0100) + "\n" + Rec(0, {1, 2}) + kEof, "", "",
         {{0, 0xFF}}, pdo},
        {"PDO: just beyond the image is rejected", Ela(0x0103) + "\n" + Rec(0, {1}), kHigh, "", {}, pdo},
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
        for (const auto& [offset, byte] : c.holds)
            EXPECT_EQ(r.image->data[offset], byte) << std::hex << offset;
        if (!c.output.empty()) {
            EXPECT_EQ(r.image->totalUsedBytes, 0u);
            EXPECT_EQ(+r.image->bootParams.checksum, 0);
        }
    }
}

}  // namespace
}  // namespace orv::test
