#include "sim/IntelHexReader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/HexWriter.h"
#include "support/TestFiles.h"

namespace orv::sim {
namespace {

using ::testing::HasSubstr;

class IntelHexReaderTest : public testing::Test {
  protected:
    std::string Load(const std::string& text) {
        orv::test::WriteFile(dir_.File("in.hex"), text);
        return LoadIntelHex(dir_.File("in.hex"), flash_);
    }

    orv::test::TempDir dir_;
    FlashMemory flash_{0x1000000};
};

TEST_F(IntelHexReaderTest, AddressRecordsPlaceTheDataAndEndOfFileStopsTheReading) {
    const std::string text = orv::test::HexWriter("\r\n")
                                 .Bytes(0x060810, {1, 2, 3})
                                 .Record(0x02, 0, {0x10, 0x00})
                                 .Data(0x0004, {4})
                                 .Record(0x05, 0, {0, 0, 0, 0})
                                 .EndOfFile()
                                 .Data(0x0000, {9})
                                 .Text();
    EXPECT_EQ(Load(text), "");
    EXPECT_EQ(flash_.Read(0x060810), 1);
    EXPECT_EQ(flash_.Read(0x060812), 3);
    EXPECT_EQ(flash_.Read(0x010004), 4) << "segment 0x1000 is 0x10000";
    EXPECT_EQ(flash_.Read(0x000000), FlashMemory::kErased) << "nothing after end of file";
}

TEST_F(IntelHexReaderTest, BadFilesAreRefusedWithTheLineThatIsWrong) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {":0100000001FF\n", "line 1: not a valid Intel HEX record"},
        {orv::test::HexRecord(0, 0, {1}) + "\n:02000004\n", "line 2: not a valid"},
        {":0100000G01FE\n", "not a valid"},
        {orv::test::HexRecord(0x04, 0, {0x01, 0x00, 0x00}) + "\n", "bad address record"},
        {orv::test::HexRecord(0x07, 0, {}) + "\n", "unknown record type"},
        {":" + std::string(600, '0') + "\n", "not a valid"},
    };
    for (const auto& [text, reason] : cases) {
        EXPECT_THAT(Load(text), HasSubstr(reason)) << text.substr(0, 40);
    }
    FlashMemory small(0x20000);
    orv::test::HexWriter().Bytes(0x1FFFF, {1, 2}).Save(dir_.File("big.hex"));
    EXPECT_THAT(LoadIntelHex(dir_.File("big.hex"), small), HasSubstr("beyond the board's flash"));
    EXPECT_THAT(LoadIntelHex(dir_.File("none.hex"), small), HasSubstr("cannot open"));
}

}  // namespace
}  // namespace orv::sim
