// The simulated boards at frame level, with their flash file reader. Frames are written as
// OrvCanSim/BOARDS.md shows them: "20C#6000" is a frame of exactly those bytes, "20C:60" is 8 bytes
// long, zeros after the bytes given; an identifier of 8 digits is an extended one.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "OrvCanSim/boards/BoardConfig.h"
#include "OrvCanSim/boards/BootBoard.h"
#include "OrvCanSim/bus/VirtualBus.h"

namespace orv::sim::test {
namespace {

CanFrame Frame(const std::string& text) {
    const size_t digits = text.find_first_of(":#");
    CanFrame frame{.id = static_cast<uint32_t>(std::stoul(text.substr(0, digits), nullptr, 16)) |
                         (digits == 8 ? kExtendedFrame : 0)};
    for (size_t at = digits + 1; at + 1 < text.size(); at += 2)
        frame.data[frame.length++] =
            static_cast<uint8_t>(std::stoul(text.substr(at, 2), nullptr, 16));
    frame.length = text[digits] == ':' ? 8 : frame.length;
    return frame;
}

// The other way round; 8-byte frames in the short form.
std::string Text(const CanFrame& frame) {
    char text[24];
    int at = snprintf(text, sizeof text, "%03X%c", frame.id, frame.length == 8 ? ':' : '#');
    int end = frame.length;
    while (frame.length == 8 && end > 0 && frame.data[end - 1] == 0)
        --end;
    for (int i = 0; i < end; ++i)
        at += snprintf(text + at, sizeof text - at, "%02X", frame.data[i]);
    return text;
}

// Feeds the frames (split by spaces; a bare XX… goes to the board's boot node as "2nn:XX…") and
// gives back its answers.
std::string Feed(BootBoard& board, const std::string& frames) {
    std::istringstream in(frames);
    std::string answers;
    for (std::string text; in >> text;) {
        char node[5];
        snprintf(node, sizeof node, "%03X:", 0x200U | board.BootNodeId());
        for (const CanFrame& answer : board.HandleFrame(
                 Frame(text.find_first_of(":#") != std::string::npos ? text : node + text)))
            answers += (answers.empty() ? "" : " ") + Text(answer);
    }
    return answers;
}

// Options starting with 1 are a PUC's, others an HT's. Sub-blocks carry the 14 bytes 01..0E
// (two segments, checksum 0x69).
TEST(BootBoard, AnswersEveryRequestAsTheToolExpects) {
    const std::string seg = " 2701020304050607 2F08090A0B0C0D0E ", program = " AA55 30 50 50 50 ";
    const std::string init = "000000200E006900 ", header = "100000500E006900 ",
                      poll = " 50 50 FF 50";
    const std::vector<std::array<std::string, 3>> cases = {
        // An application hears only the NMT start of its boot loader; 80 jumps back to it.
        {"12,boot=20,version=3A01,hwid=0x5C",
         "20C:70 214:70 000#960D 000#8000 000#960C 20C:70 214:70 214:80 214:50 214:70",
         "194:003341303100005C"},
        // Boards take standard frames only: the extended ones with the same value go unanswered.
        {"12,boot=20", "00000000#9600 000#960C 00000214:70 214:70", "194:0033313030"},
        // An HT board answers with its identification text, or like a PUC when it has none.
        {"30,mode=boot,ident=HT-77", "70", "19E:48542D3737"},
        {"30,mode=boot,ident=,hwid=9", "70", "19E:0032313030000009"},
        // Variant one: nothing is written before programming.
        {"12,mode=boot",
         "000000201C00D200 100000500E006900" + seg + "100600200E006900" + seg +
             "6000005000 AA55 30 50 6000005000 6000082006 6000004000",
         "18C:FFFFFFFFFFFFFFFF 18C: 18C:0102030405060708 18C:090A0B0C0D0EFFFF "
         "18C:A5A500D22000FFFF"},
        // Information bytes are written by programming or a commit only; a new soft CAN ID
        // counts from the next start of the boot loader; an abort drops what was not committed.
        {"12,mode=boot",
         "0000002000 9510404150502E48 9215404558 99344022 6000104000 AA55 30 6000104000 80 "
         "000#960C C0 91344005 AA55 B0 6000344000 6000104000 91344007 FF AA55 B0 6000344000",
         "18C:FFFFFFFFFFFFFFFF 18C:4150502E484558FF 1A2:05FFFFFFFFFFFFFF 1A2:4150502E484558FF "
         "1A2:05FFFFFFFFFFFFFF"},
        // Variant two erases, then programs, with busy bits.
        {"30,mode=boot",
         "00061000000E0069 10061000000E0069 50 50" + seg + program +
             "AA55 40 50 6000001006 6000081006 6000001000",
         "19E:0601 19E: 19E:0602 19E:0602 19E: 19E: 19E:0102030405060708 19E:090A0B0C0D0EFFFF "
         "19E:FFFFFFFFFFFFFFFF"},
        // The download over PDO has its own initialisation and header order.
        {"30,mode=boot",
         "FF 00014000001C00D2 21E#FF 000040001C 0100D2001C 100040010E006900 50" + seg + program +
             "100E40010E006900 50" + seg + program + "AA55 40 50 6000004001 6000084001 6000104001",
         "19E: 19E:0602 19E:0602 19E: 19E: 19E:0602 19E:0602 19E: 19E: 19E:0102030405060708 "
         "19E:090A0B0C0D0E0102 19E:030405060708090A"},
        // The status byte reports each condition until an abort (poll, poll, abort, poll).
        {"12,mode=boot", init + header + "2701020304050607 2708090A0B0C0D0E" + poll,
         "18C:01 18C:01 18C:"},                                                          // toggle
        {"12,mode=boot", init + "100000500E003412" + seg + poll, "18C:02 18C:02 18C:"},  // sum
        {"12,mode=boot", init + "30" + poll, "18C:03 18C:03 18C:"},                // write enable
        {"12,mode=boot", init + "2701020304050607" + poll, "18C:04 18C:04 18C:"},  // sequence
        {"12,mode=boot", init + "1000004000080000" + poll, "18C:05 18C:05 18C:"},  // boot code
        {"30,mode=boot", "00060000000E0069 10060000000E0069 AA55" + poll,
         "19E:0601 19E:06 19E:"},  // erasing
        {"12,mode=boot,status-error=210:0x85", init + "30" + poll, "18C:85 18C:85 18C:"},
        {"30,mode=boot,status-error=207:3", poll, "19E:03 19E:03 19E:03"},
        // A stuck board stays busy and takes nothing, not even an abort.
        {"30,mode=boot,stuck-busy", "00060000000E0069 10060000000E0069 50 50 80" + poll,
         "19E:0601 19E:0601 19E:0601 19E:0601 19E:0601"}};
    for (const auto& [options, frames, answers] : cases) {
        BoardConfig config;
        ASSERT_EQ(ParseBoardDescription(options[0] == '1' ? BoardKind::Puc : BoardKind::Ht, options,
                                        config),
                  "");
        BootBoard board(config);
        EXPECT_EQ(Feed(board, frames), answers) << options << ": " << frames;
    }
}

}  // namespace
}  // namespace orv::sim::test
