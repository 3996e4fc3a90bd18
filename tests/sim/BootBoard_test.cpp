#include "sim/BootBoard.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "BoardFrames.h"
#include "SimLogCapture.h"
#include "sim/BootStatus.h"
#include "support/HexWriter.h"
#include "support/TestFiles.h"

namespace orv::sim::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Bytes = std::vector<uint8_t>;

// A board fed frame by frame, as the bus would; its log lines are kept.
class BoardUnderTest {
  public:
    BoardUnderTest(BoardKind kind, const std::string& spec) {
        BoardConfig config;
        const std::string error = ParseBoardSpec(kind, spec, config);
        EXPECT_EQ(error, "");
        board = std::make_unique<BootBoard>(config);
    }

    uint8_t Node() const { return board->BootNodeId(); }

    void Quiet(const CanFrame& frame) { EXPECT_TRUE(board->HandleFrame(frame).empty()); }
    void Quiet(const std::vector<CanFrame>& frames) {
        for (const CanFrame& frame : frames) {
            Quiet(frame);
        }
    }
    // The one answer to a request, from the boot loader's reply identifier.
    std::array<uint8_t, 8> Ask(const CanFrame& frame) {
        const std::vector<CanFrame> answers = board->HandleFrame(frame);
        EXPECT_EQ(answers.size(), 1U);
        if (answers.size() != 1) {
            return {};
        }
        EXPECT_EQ(answers[0].id, 0x180U | Node());
        EXPECT_EQ(answers[0].length, 8);
        return BytesOf(answers[0]);
    }
    std::array<uint8_t, 8> Poll() { return Ask(ToNode(Node(), {0x50})); }
    uint8_t StatusByte() { return Poll()[0]; }
    Bytes Read(uint8_t page, uint16_t address, size_t count) {
        Bytes bytes;
        for (size_t at = 0; at < count; at += 8) {
            const uint16_t cell = static_cast<uint16_t>(address + at);
            const auto answer = Ask(ToNode(Node(), {0x60, 0x00, static_cast<uint8_t>(cell),
                                                    static_cast<uint8_t>(cell >> 8), page}));
            bytes.insert(bytes.end(), answer.begin(), answer.end());
        }
        bytes.resize(count);
        return bytes;
    }

    // Variant 1: init {0x00, page, start, length, checksum}, 16-bit fields low byte first.
    void InitVariant1(uint16_t start, uint16_t length, uint16_t checksum) {
        Quiet(ToNode(Node(), {0x00, 0x00, Lo(start), Hi(start), Lo(length), Hi(length),
                              Lo(checksum), Hi(checksum)}));
    }
    void SubblockVariant1(uint8_t page, uint16_t address, const Bytes& data) {
        const uint16_t sum = Checksum(data);
        const uint16_t length = static_cast<uint16_t>(data.size());
        Quiet(ToNode(Node(), {0x10, page, Lo(address), Hi(address), Lo(length), Hi(length), Lo(sum),
                              Hi(sum)}));
        Quiet(Segments(Node(), data));
    }
    // Variant 2: the same fields high byte first.
    void InitVariant2(uint8_t page, uint16_t start, uint16_t length, uint16_t checksum) {
        Quiet(ToNode(Node(), {0x00, page, Hi(start), Lo(start), Hi(length), Lo(length),
                              Hi(checksum), Lo(checksum)}));
    }
    void HeaderVariant2(uint8_t page, uint16_t address, const Bytes& data) {
        const uint16_t sum = Checksum(data);
        const uint16_t length = static_cast<uint16_t>(data.size());
        Quiet(ToNode(Node(), {0x10, page, Hi(address), Lo(address), Hi(length), Lo(length), Hi(sum),
                              Lo(sum)}));
    }
    void WriteEnable() { Quiet(ToNode(Node(), {0xAA, 0x55})); }

    static uint8_t Lo(uint32_t value) { return static_cast<uint8_t>(value); }
    static uint8_t Hi(uint32_t value) { return static_cast<uint8_t>(value >> 8); }

    SimLogCapture log;
    std::unique_ptr<BootBoard> board;
};

TEST(BootBoardModes, AnApplicationHearsOnlyTheNmtCommandForItsOwnNode) {
    BoardUnderTest puc(BoardKind::Puc, "12,boot=20,version=3A01,hwid=0x5C");
    EXPECT_FALSE(puc.board->InBootLoader());
    puc.Quiet(ToNode(12, {0x70}));
    puc.Quiet(ToNode(20, {0x70}));
    puc.Quiet(Nmt(0x96, 13));
    puc.Quiet(Nmt(0x80, 0));
    EXPECT_FALSE(puc.board->InBootLoader());

    puc.Quiet(Nmt(0x96, 12));
    ASSERT_TRUE(puc.board->InBootLoader());
    EXPECT_EQ(puc.Node(), 20);
    puc.Quiet(ToNode(12, {0x70}));
    EXPECT_THAT(puc.Ask(ToNode(20, {0x70})), ElementsAre(0, '3', 'A', '0', '1', 0, 0, 0x5C));
    EXPECT_THAT(puc.log.Lines(), testing::Contains(HasSubstr("boot loader started as node 20")));

    puc.Quiet(ToNode(20, {0x80}));
    EXPECT_FALSE(puc.board->InBootLoader());
    puc.Quiet(ToNode(20, {0x50}));
    EXPECT_THAT(puc.log.Lines().back(), HasSubstr("application started"));
}

TEST(BootBoardModes, BootCodeInformationIsVersionAndHardwareIdOrTheIdentificationText) {
    BoardUnderTest ht(BoardKind::Ht, "30,mode=boot,ident=HT-77");
    EXPECT_THAT(ht.Ask(ToNode(30, {0x70})), ElementsAre('H', 'T', '-', '7', '7', 0, 0, 0));
    BoardUnderTest plainHt(BoardKind::Ht, "31,mode=boot,ident=,hwid=9");
    EXPECT_THAT(plainHt.Ask(ToNode(31, {0x70})), ElementsAre(0, '2', '1', '0', '0', 0, 0, 9));
}

TEST(BootBoardModes, TheSoftCanIdInFlashOverridesTheHardwareBootId) {
    orv::test::TempDir dir;
    orv::test::HexWriter().Data(0x4034, {0x22}).EndOfFile().Save(dir.File("soft.hex"));
    BoardUnderTest puc(BoardKind::Puc, "12,boot=20,mode=boot,hex=" + dir.File("soft.hex"));
    EXPECT_EQ(puc.Node(), 0x22);
    EXPECT_EQ(puc.StatusByte(), kStatusOk);
}

TEST(BootBoardModes, AnUnreadableHexFileStopsTheBoardFromBeingBuilt) {
    orv::test::TempDir dir;
    orv::test::WriteFile(dir.File("bad.hex"), ":020000040000FA\n:10000000GG\n");
    BoardConfig config;
    ASSERT_EQ(ParseBoardSpec(BoardKind::Puc, "12,hex=" + dir.File("bad.hex"), config), "");
    EXPECT_THROW(BootBoard{config}, std::runtime_error);
    ASSERT_EQ(ParseBoardSpec(BoardKind::Puc, "12,hex=" + dir.File("none.hex"), config), "");
    EXPECT_THROW(BootBoard{config}, std::runtime_error);
}

TEST(BootBoardDownload, AVariantOneDownloadProgramsAllSubblocksAndMarksTheApplicationValid) {
    BoardUnderTest puc(BoardKind::Puc, "12,mode=boot");
    const Bytes lower = Pattern(2048, 1);
    const Bytes upper = Pattern(2048, 99);
    const uint16_t total = static_cast<uint16_t>(Checksum(lower) + Checksum(upper));
    puc.InitVariant1(0x2000, 4096, total);
    puc.SubblockVariant1(0, 0x5000, lower);
    EXPECT_EQ(puc.StatusByte(), kStatusOk);
    puc.SubblockVariant1(6, 0x2000, upper);
    EXPECT_EQ(puc.StatusByte(), kStatusOk);
    EXPECT_EQ(puc.Read(0, 0x5000, 8), Bytes(8, 0xFF)) << "nothing is written before programming";

    puc.WriteEnable();
    puc.Quiet(ToNode(12, {0x30}));
    EXPECT_THAT(puc.Poll(), ElementsAre(kStatusOk, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_EQ(puc.Read(0, 0x5000, 2048), lower);
    EXPECT_EQ(puc.Read(6, 0x2000, 2048), upper);
    EXPECT_EQ(puc.Read(0, 0x4000, 6), (Bytes{0xA5, 0xA5, BoardUnderTest::Hi(total),
                                             BoardUnderTest::Lo(total), 0x20, 0x00}));
}

TEST(BootBoardDownload, ProgrammingWhatDoesNotAddUpToTheInitialisationLeavesNoValidApplication) {
    BoardUnderTest puc(BoardKind::Puc, "12,mode=boot");
    const Bytes data = Pattern(2048, 5);
    puc.InitVariant1(0x2000, 4096, Checksum(data));
    puc.SubblockVariant1(0, 0x5000, data);
    puc.WriteEnable();
    puc.Quiet(ToNode(12, {0x30}));
    EXPECT_EQ(puc.StatusByte(), kStatusChecksumMismatch);
    EXPECT_EQ(puc.Read(0, 0x4000, 2), (Bytes{0xFF, 0xFF}));
}

TEST(BootBoardDownload, AVariantTwoSubblockErasesThenProgramsWithBusyBits) {
    BoardUnderTest ht(BoardKind::Ht, "30,mode=boot");
    const Bytes data = Pattern(2048, 42);
    ht.InitVariant2(6, 0x1000, 2048, Checksum(data));
    EXPECT_EQ(ht.StatusByte(), kStatusOk);
    ht.HeaderVariant2(6, 0x1000, data);
    EXPECT_THAT(ht.Poll(), ElementsAre(kStatusBusy, kBusyErasing, 0, 0, 0, 0, 0, 0));
    EXPECT_THAT(ht.Poll(), ElementsAre(kStatusOk, 0, 0, 0, 0, 0, 0, 0));
    ht.Quiet(Segments(30, data));
    ht.WriteEnable();
    ht.Quiet(ToNode(30, {0x30}));
    for (int poll = 0; poll < BootBoard::kProgramPolls; ++poll) {
        EXPECT_THAT(ht.Poll(), ElementsAre(kStatusBusy, kBusyProgramming, 0, 0, 0, 0, 0, 0));
    }
    EXPECT_EQ(ht.StatusByte(), kStatusOk);
    ht.WriteEnable();
    ht.Quiet(ToNode(30, {0x40}));
    EXPECT_EQ(ht.StatusByte(), kStatusOk);
    EXPECT_THAT(ht.log.Lines(), testing::Contains(HasSubstr("descriptors valid")));
    EXPECT_EQ(ht.Read(6, 0x1000, 2048), data);
    EXPECT_EQ(ht.Read(0, 0x1000, 8), Bytes(8, 0xFF)) << "HT pages are 64 KiB apart";
}

TEST(BootBoardDownload, TheDownloadOverPdoTakesItsOwnInitialisationAndHeaderOrder) {
    BoardUnderTest ht(BoardKind::Ht, "30,mode=boot");
    const Bytes first = Pattern(2048, 3);
    const Bytes second = Pattern(1000, 4);
    const uint16_t total = static_cast<uint16_t>(Checksum(first) + Checksum(second));
    ht.Quiet(ToNode(30, {0xFF}));
    ht.InitVariant2(1, 0x4000, 3048, total);
    ht.Quiet(RawToNode(30, {0xFF}));
    ht.Quiet(ToNode(30, {0x00, 0x00, 0x40, 0x00, 0xE8, 0x0B, 0x00, 0x00}));
    ht.Quiet(ToNode(30, {0x01, 0x00, BoardUnderTest::Lo(total), BoardUnderTest::Hi(total), 0xE8,
                         0x0B, 0x00, 0x00}));
    uint16_t address = 0x4000;
    for (const Bytes* data : {&first, &second}) {
        const uint16_t sum = Checksum(*data);
        const uint16_t length = static_cast<uint16_t>(data->size());
        ht.Quiet(ToNode(30, {0x10, BoardUnderTest::Lo(address), BoardUnderTest::Hi(address), 0x01,
                             BoardUnderTest::Lo(length), BoardUnderTest::Hi(length),
                             BoardUnderTest::Lo(sum), BoardUnderTest::Hi(sum)}));
        EXPECT_EQ(ht.Poll()[1], 0) << "no erase wait over PDO";
        ht.Quiet(Segments(30, *data, 0xFF));
        ht.WriteEnable();
        ht.Quiet(ToNode(30, {0x30}));
        for (int poll = 0; poll < BootBoard::kProgramPolls; ++poll) {
            EXPECT_EQ(ht.Poll()[1], kBusyProgramming);
        }
        EXPECT_EQ(ht.StatusByte(), kStatusOk);
        address = static_cast<uint16_t>(address + 0x800);
    }
    ht.WriteEnable();
    ht.Quiet(ToNode(30, {0x40}));
    EXPECT_EQ(ht.StatusByte(), kStatusOk);
    EXPECT_EQ(ht.Read(1, 0x4000, 2048), first);
    EXPECT_EQ(ht.Read(1, 0x4800, 1000), second);
}

TEST(BootBoardInformationBlock, SetBytesFramesAreCommittedByProgrammingOrByTheCommitCommand) {
    BoardUnderTest puc(BoardKind::Puc, "12,mode=boot");
    puc.InitVariant1(0x2000, 0, 0);
    puc.Quiet(ToNode(12, {0x95, 0x10, 0x40, 'A', 'P', 'P', '.', 'H'}));
    puc.Quiet(ToNode(12, {0x92, 0x15, 0x40, 'E', 'X'}));
    puc.Quiet(ToNode(12, {0x99, 0x34, 0x40, 0x22}));
    EXPECT_EQ(puc.Read(0, 0x4010, 8), Bytes(8, 0xFF)) << "written only when committed";
    puc.WriteEnable();
    puc.Quiet(ToNode(12, {0x30}));
    EXPECT_EQ(puc.StatusByte(), kStatusOk);
    const Bytes name = puc.Read(0, 0x4010, 8);
    EXPECT_EQ(std::string(name.begin(), name.begin() + 7), "APP.HEX");
    EXPECT_EQ(puc.Read(0, 0x4034, 1), Bytes{0x22});

    // The new soft CAN ID counts from the next start of the boot loader.
    puc.Quiet(ToNode(12, {0x80}));
    puc.Quiet(Nmt(0x96, 12));
    EXPECT_EQ(puc.Node(), 0x22);

    puc.Quiet(ToNode(0x22, {0xC0}));
    puc.Quiet(ToNode(0x22, {0x91, 0x34, 0x40, 0x05}));
    puc.Quiet(ToNode(0x22, {0xB0}));
    EXPECT_EQ(puc.StatusByte(), kStatusNoWriteEnable);
    puc.WriteEnable();
    puc.Quiet(ToNode(0x22, {0xB0}));
    EXPECT_EQ(puc.Read(0, 0x4034, 1), Bytes{0x05});
    EXPECT_EQ(puc.Read(0, 0x4010, 3), (Bytes{'A', 'P', 'P'})) << "other fields stay";

    puc.Quiet(ToNode(0x22, {0x91, 0x34, 0x40, 0x07}));
    puc.Quiet(ToNode(0x22, {0xFF}));
    puc.WriteEnable();
    puc.Quiet(ToNode(0x22, {0xB0}));
    EXPECT_EQ(puc.Read(0, 0x4034, 1), Bytes{0x05}) << "an abort drops what was not committed";
}

struct StatusCase {
    std::string name;
    BoardKind kind;
    std::string spec;
    std::vector<CanFrame> frames;
    uint8_t expected;
    bool clearedByAbort = true;
};

std::vector<CanFrame> Join(std::initializer_list<std::vector<CanFrame>> parts) {
    std::vector<CanFrame> frames;
    for (const std::vector<CanFrame>& part : parts) {
        frames.insert(frames.end(), part.begin(), part.end());
    }
    return frames;
}

std::vector<StatusCase> StatusCases() {
    constexpr BoardKind puc = BoardKind::Puc;
    const CanFrame init = ToNode(12, {0x00, 0, 0x00, 0x20, 0x00, 0x08, 0, 0});
    const CanFrame header = ToNode(12, {0x10, 0, 0x00, 0x50, 0x00, 0x08, 0, 0});
    const CanFrame enable = ToNode(12, {0xAA, 0x55});
    const CanFrame program = ToNode(12, {0x30});
    const std::vector<CanFrame> data = Segments(12, Pattern(2048, 1));
    std::vector<CanFrame> badToggle = data;
    badToggle[1].data[0] ^= 0x08;
    const CanFrame htInit = ToNode(30, {0x00, 6, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00});
    const CanFrame htHeader = ToNode(30, {0x10, 6, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00});
    const std::string boot = "12,mode=boot";
    return {
        {"toggle mismatch", puc, boot, Join({{init, header}, badToggle}), kStatusToggleMismatch},
        {"checksum mismatch", puc, boot,
         Join({{init, ToNode(12, {0x10, 0, 0x00, 0x50, 0x00, 0x08, 0x12, 0x34})}, data}),
         kStatusChecksumMismatch},
        {"programming without write enable", puc, boot, {init, program}, kStatusNoWriteEnable},
        {"a write enable used up by programming",
         puc,
         boot,
         {init, enable, program, ToNode(12, {0xFF}), init, program},
         kStatusNoWriteEnable},
        {"a segment without a header", puc, boot, {init, data[0]}, kStatusOutOfSequence},
        {"a sub-block before the initialisation", puc, boot, {header}, kStatusOutOfSequence},
        {"more bytes than the header announced",
         puc,
         boot,
         {init, ToNode(12, {0x10, 0, 0x00, 0x50, 0x03, 0x00, 0, 0}), data[0]},
         kStatusOutOfSequence},
        {"an HT program before a whole sub-block",
         BoardKind::Ht,
         "30,mode=boot",
         {htInit, ToNode(30, {0xAA, 0x55}), ToNode(30, {0x30})},
         kStatusOutOfSequence},
        {"a sub-block over the boot code",
         puc,
         boot,
         {init, ToNode(12, {0x10, 0, 0x00, 0x40, 0x00, 0x08, 0, 0})},
         kStatusOutOfRange},
        {"a sub-block longer than 2048 bytes",
         puc,
         boot,
         {init, ToNode(12, {0x10, 0, 0x00, 0x50, 0x01, 0x08, 0, 0})},
         kStatusOutOfRange},
        {"information bytes outside the block",
         puc,
         boot,
         {ToNode(12, {0x91, 0x00, 0x41, 0})},
         kStatusOutOfRange},
        // The first poll still finds the board erasing; the second reports the refusal.
        {"a frame while the board erases",
         BoardKind::Ht,
         "30,mode=boot",
         {htInit, htHeader, ToNode(30, {0xAA, 0x55})},
         kStatusBusy},
        {"an unknown command", puc, boot, {ToNode(12, {0x55})}, kStatusUnknownCommand},
        {"a read too short for its address",
         puc,
         boot,
         {RawToNode(12, {0x60, 0x00, 0x00})},
         kStatusUnknownCommand},
        {"information bytes to a boot code without them",
         puc,
         "12,mode=boot,version=1900",
         {ToNode(12, {0x91, 0x34, 0x40, 0x05})},
         kStatusUnknownCommand},
        {"a status byte set after a command",
         puc,
         "12,mode=boot,status-error=210:0x85",
         {init, program},
         0x85},
        {"a status byte set on the poll itself",
         BoardKind::Ht,
         "30,mode=boot,status-error=207:3",
         {},
         0x03,
         false},
    };
}

class BootBoardStatus : public testing::TestWithParam<StatusCase> {};

TEST_P(BootBoardStatus, TheStatusByteReportsTheConditionUntilAnAbort) {
    const StatusCase& c = GetParam();
    BoardUnderTest board(c.kind, c.spec);
    board.Quiet(c.frames);
    EXPECT_EQ(board.StatusByte(), c.expected);
    EXPECT_EQ(board.StatusByte(), c.expected) << "the status stays";
    board.Quiet(ToNode(board.Node(), {0xFF}));
    if (c.clearedByAbort) {
        EXPECT_EQ(board.StatusByte(), kStatusOk);
    }
}

INSTANTIATE_TEST_SUITE_P(Conditions, BootBoardStatus, testing::ValuesIn(StatusCases()),
                         [](const testing::TestParamInfo<StatusCase>& info) {
                             std::string name;
                             for (char c : info.param.name) {
                                 if (std::isalnum(static_cast<unsigned char>(c))) {
                                     name += c;
                                 }
                             }
                             return name;
                         });

TEST(BootBoardBusy, AStuckBoardStaysBusy) {
    BoardUnderTest ht(BoardKind::Ht, "30,mode=boot,stuck-busy");
    ht.InitVariant2(6, 0, 2048, 0);
    ht.HeaderVariant2(6, 0x0000, Pattern(2048, 1));
    for (int poll = 0; poll < 30; ++poll) {
        ASSERT_EQ(ht.Poll()[1], kBusyErasing);
    }
    ht.Quiet(ToNode(30, {0x80}));
    EXPECT_TRUE(ht.board->InBootLoader()) << "a busy board takes no jump";
}

}  // namespace
}  // namespace orv::sim::test
