// The board models at frame level. Frames are written as sim/BOARDS.md shows them (see Frame);
// sub-blocks carry the 14 bytes 01..0E (two segments, checksum 0x69).
#include "sim/BootBoard.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "SimTestKit.h"
#include "sim/BootStatus.h"
#include "sim/IntelHexReader.h"
#include "support/HexWriter.h"
#include "support/TestFiles.h"

namespace orv::sim::test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
constexpr BoardKind kPuc = BoardKind::Puc;
constexpr BoardKind kHt = BoardKind::Ht;
const std::string kSegments = "2701020304050607 2F08090A0B0C0D0E";

// A board fed frames as the bus would; its log lines are kept.
struct Board {
    Board(BoardKind kind, const std::string& options) : board(Config(kind, options)) {}
    // Feeds the frames (split by spaces; a bare XX… is "2nn:XX…" to the boot node) and gives
    // back the answers, each from the reply identifier of the boot node.
    std::string Run(const std::string& frames) {
        std::istringstream in(frames);
        std::string answers;
        for (std::string text; in >> text;) {
            char node[5];
            snprintf(node, sizeof node, "%03X:", 0x200U | board.BootNodeId());
            for (const CanFrame& answer :
                 board.HandleFrame(Frame(text.find_first_of(":#") == 3 ? text : node + text))) {
                EXPECT_EQ(answer.id, 0x180U | board.BootNodeId());
                answers += (answers.empty() ? "" : " ") + Text(answer);
            }
        }
        return answers;
    }

    SimLogCapture log;
    BootBoard board;
};

TEST(BootBoard, AnApplicationHearsOnlyTheNmtStartOfItsBootLoader) {
    Board puc(kPuc, "12,boot=20,version=3A01,hwid=0x5C");
    EXPECT_EQ(puc.Run("20C:70 214:70 000#960D 000#8000"), "");
    EXPECT_FALSE(puc.board.InBootLoader());
    EXPECT_EQ(puc.Run("000#960C 20C:70 214:70"), "194:003341303100005C");
    EXPECT_THAT(puc.log.Lines(), Contains(HasSubstr("boot loader started as node 20")));
    EXPECT_EQ(puc.Run("214:80 214:50"), "");
    EXPECT_FALSE(puc.board.InBootLoader());
    EXPECT_THAT(puc.log.Lines().back(), HasSubstr("application started"));
    // An HT board answers with its identification text, or like a PUC when it has none.
    EXPECT_EQ(Board(kHt, "30,mode=boot,ident=HT-77").Run("70"), "19E:48542D3737");
    EXPECT_EQ(Board(kHt, "30,mode=boot,ident=,hwid=9").Run("70"), "19E:0032313030000009");
}

TEST(BootBoard, AHexFileFillsTheFlashAndItsSoftCanIdNamesTheBootNode) {
    orv::test::TempDir dir;
    // Segment 0x0400 is 0x4000; start records are skipped; nothing counts after the end of file.
    orv::test::HexWriter("\r\n")
        .Record(0x02, 0, {0x04, 0x00})
        .Data(0x0034, {0x22})
        .Record(0x05, 0, {0, 0, 0, 0})
        .EndOfFile()
        .Data(0x0034, {0x33})
        .Save(dir.File("soft.hex"));
    EXPECT_EQ(Board(kPuc, "12,boot=20,mode=boot,hex=" + dir.File("soft.hex")).Run("70"),
              "1A2:0033313030");
    EXPECT_THROW(BootBoard{Config(kPuc, "12,hex=" + dir.File("none.hex"))}, std::runtime_error);
}

TEST(IntelHexReader, BadFilesAreRefusedWithTheLineThatIsWrong) {
    using orv::test::HexRecord;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {":0100000001FF\n", "line 1: not a valid Intel HEX record"},
        {HexRecord(0, 0, {1}) + "\n:02000004\n", "line 2: not a valid"},
        {":" + std::string(600, '0') + "\n", "not a valid"},
        {HexRecord(0x04, 0, {0x01, 0x00, 0x00}) + "\n", "bad address record"},
        {HexRecord(0x07, 0, {}) + "\n", "unknown record type"},
        {orv::test::HexWriter().Bytes(0x1FFFF, {1, 2}).Text(), "beyond the board's flash"}};
    orv::test::TempDir dir;
    FlashMemory flash(0x20000);
    for (const auto& [text, reason] : cases) {
        orv::test::WriteFile(dir.File("in.hex"), text);
        EXPECT_THAT(LoadIntelHex(dir.File("in.hex"), flash), HasSubstr(reason)) << reason;
    }
    EXPECT_THAT(LoadIntelHex(dir.File("none.hex"), flash), HasSubstr("cannot open"));
}

TEST(BootBoard, AVariantOneDownloadProgramsAllSubblocksAndMarksTheApplicationValid) {
    Board puc(kPuc, "12,mode=boot");
    // Nothing is written before programming.
    EXPECT_EQ(puc.Run("000000201C00D200 100000500E006900 " + kSegments + " 100600200E006900 " +
                      kSegments + " 6000005000"),
              "18C:FFFFFFFFFFFFFFFF");
    EXPECT_EQ(puc.Run("AA55 30 50 6000005000 6000082006 6000004000"),
              "18C: 18C:0102030405060708 18C:090A0B0C0D0EFFFF 18C:A5A500D22000FFFF");
}

TEST(BootBoard, InformationBytesAreWrittenByProgrammingOrACommitOnly) {
    Board puc(kPuc, "12,mode=boot");
    EXPECT_EQ(puc.Run("0000002000 9510404150502E48 9215404558 99344022 6000104000"),
              "18C:FFFFFFFFFFFFFFFF");
    EXPECT_EQ(puc.Run("AA55 30 6000104000"), "18C:4150502E484558FF");
    // The new soft CAN ID counts from the next start of the boot loader; other fields stay.
    EXPECT_EQ(puc.Run("80 000#960C C0 91344005 AA55 B0 6000344000 6000104000"),
              "1A2:05FFFFFFFFFFFFFF 1A2:4150502E484558FF");
    EXPECT_EQ(puc.Run("91344007 FF AA55 B0 6000344000"), "1A2:05FFFFFFFFFFFFFF")
        << "an abort drops what was not committed";
}

TEST(BootBoard, AVariantTwoSubblockErasesThenProgramsWithBusyBits) {
    Board ht(kHt, "30,mode=boot");
    EXPECT_EQ(ht.Run("00061000000E0069 10061000000E0069 50 50 " + kSegments + " AA55 30 50 50 50"),
              "19E:0601 19E: 19E:0602 19E:0602 19E:");
    EXPECT_EQ(ht.Run("AA55 40 50 6000001006 6000081006 6000001000"),
              "19E: 19E:0102030405060708 19E:090A0B0C0D0EFFFF 19E:FFFFFFFFFFFFFFFF");
    EXPECT_THAT(ht.log.Lines(), Contains(HasSubstr("descriptors valid")));
}

TEST(BootBoard, TheDownloadOverPdoTakesItsOwnInitialisationAndHeaderOrder) {
    Board ht(kHt, "30,mode=boot");
    const std::string program = " AA55 30 50 50 50 ";
    EXPECT_EQ(ht.Run("FF 00014000001C00D2 21E#FF 000040001C 0100D2001C 100040010E006900 50 " +
                     kSegments + program + "100E40010E006900 50 " + kSegments + program +
                     "AA55 40 50 6000004001 6000084001 6000104001"),
              "19E: 19E:0602 19E:0602 19E: 19E: 19E:0602 19E:0602 19E: 19E: 19E:0102030405060708 "
              "19E:090A0B0C0D0E0102 19E:030405060708090A");
}

TEST(BootBoard, TheStatusByteReportsEachConditionUntilAnAbort) {
    const std::string init = "000000200E006900 ", header = "100000500E006900 ";
    // Board, frames, then the status part of the answers to a poll, a poll, an abort, a poll.
    const std::vector<std::array<std::string, 3>> cases = {
        {"12", init + header + "2701020304050607 2708090A0B0C0D0E", "01 01 -"},  // toggle
        {"12", init + "100000500E003412 " + kSegments, "02 02 -"},               // checksum
        {"12", init + "30", "03 03 -"},                                          // write enable
        {"12", init + "AA55 30 FF " + init + "30", "03 03 -"},  // a write enable is used up
        {"12", "91344005 B0", "03 03 -"},
        {"12", init + "2701020304050607", "04 04 -"},  // out of sequence
        {"30", "00060000000E0069 AA55 30", "04 04 -"},
        {"12", init + "1000004000080000", "05 05 -"},                   // over the boot code
        {"12", init + "1000005001080000", "05 05 -"},                   // longer than 2048 bytes
        {"30", "00060000000E0069 10060000000E0069 AA55", "0601 06 -"},  // erasing
        {"12", "55", "07 07 -"},                                        // unknown command
        {"12", "20C#600000", "07 07 -"},                                // too short
        {"12,version=1900", "91344005", "07 07 -"},
        {"12,status-error=210:0x85", init + "30", "85 85 -"},
        {"30,status-error=207:3", "", "03 03 03"},
        // A stuck board stays busy and takes nothing, not even an abort.
        {"30,stuck-busy", "00060000000E0069 10060000000E0069 50 50 80",
         "0601 0601 0601 0601 0601"}};
    for (const auto& [options, frames, answers] : cases) {
        Board board(options[0] == '1' ? kPuc : kHt, options + ",mode=boot");
        std::istringstream in(answers);
        std::string expected;
        for (std::string status; in >> status;) {
            expected += (options[0] == '1' ? " 18C:" : " 19E:") + (status == "-" ? "" : status);
        }
        EXPECT_EQ(" " + board.Run(frames + " 50 50 FF 50"), expected) << frames;
    }
}

}  // namespace
}  // namespace orv::sim::test
