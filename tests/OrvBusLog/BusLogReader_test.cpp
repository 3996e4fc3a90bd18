// Short candump logs of boot-loader conversations and the lines they read as.
#include "OrvBusLog/reader/BusLogReader.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

namespace orv::buslog {
namespace {

// Writes a candump log: every frame 1 ms after the one before, unless told to wait.
class Log {
  public:
    Log& Wait(int64_t millis) {
        micros_ += millis * 1000;
        return *this;
    }
    Log& Frame(uint32_t id, std::initializer_list<uint8_t> bytes) {
        char stamp[64];
        std::snprintf(stamp, sizeof stamp, "(%" PRId64 ".%06" PRId64 ") can0 %03X#",
                      kEpoch + micros_ / 1000000, micros_ % 1000000, static_cast<unsigned>(id));
        text_ += stamp;
        for (const uint8_t byte : bytes) {
            char pair[4];
            std::snprintf(pair, sizeof pair, "%02X", byte);
            text_ += pair;
        }
        text_ += "\n";
        return Wait(1);
    }
    Log& Nmt(uint8_t specifier, uint8_t node) { return Frame(0x000, {specifier, node}); }
    // Requests and answers are 8 bytes, zero-filled.
    Log& To(uint8_t node, std::initializer_list<uint8_t> bytes) {
        return Eight(0x200 | node, bytes);
    }
    Log& From(uint8_t node, std::initializer_list<uint8_t> bytes) {
        return Eight(0x180 | node, bytes);
    }
    // The data segments of `count` bytes: 7 a segment, the toggle changing from one to the next.
    Log& Segments(uint8_t node, unsigned count) {
        for (uint8_t toggle = 0; count > 0; toggle ^= 0x08) {
            const uint8_t n = static_cast<uint8_t>(count < 7 ? count : 7);
            To(node,
               {static_cast<uint8_t>(0x20 | toggle | n), 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77});
            count -= n;
        }
        return *this;
    }
    Log& Line(const std::string& line) {
        text_ += line;
        return *this;
    }
    const std::string& Text() const { return text_; }

  private:
    static constexpr int64_t kEpoch = 1700000000;

    Log& Eight(uint32_t id, std::initializer_list<uint8_t> bytes) {
        uint8_t data[8] = {};
        std::copy(bytes.begin(), bytes.end(), data);
        return Frame(id, {data[0], data[1], data[2], data[3], data[4], data[5], data[6], data[7]});
    }

    int64_t micros_ = 0;
    std::string text_;
};

struct LogCase {
    const char* name;
    std::string log;
    std::vector<std::string> lines;
    uint64_t badLines = 0;
    uint64_t firstBadLine = 0;
    uint64_t otherFrames = 0;
};

// A boot loader that takes its 16-bit fields low byte first, all the way.
LogCase CleanDownload() {
    Log log;
    log.Nmt(0x80, 0).Nmt(0x96, 12).Wait(2000).To(12, {0xFF});
    log.To(12, {0x00, 0x00, 0x00, 0x20, 0x00, 0x08, 0x34, 0x12});
    log.To(12, {0x50}).From(12, {0x00, 0x00});
    log.To(12, {0x70}).From(12, {0x00, '3', '1', '0', '0', 0x00, 0x00, 0x05});
    log.To(12, {0x10, 0x00, 0x00, 0x48, 0x00, 0x08, 0x34, 0x12}).To(12, {0x50}).From(12, {});
    log.Wait(300).Segments(12, 2048).To(12, {0x50}).From(12, {});
    log.To(12, {0x95, 0x10, 0x40, 1, 2, 3, 4, 5}).To(12, {0x93, 0x15, 0x40, 6, 7, 8});
    log.To(12, {0xAA, 0x55}).To(12, {0x30}).Wait(12000);
    log.To(12, {0x50}).From(12, {0x06, 0x02}).Wait(200).To(12, {0x50}).From(12, {0x06, 0x02});
    log.Wait(200).To(12, {0x50}).From(12, {0x00, 0x00});
    log.To(12, {0x80}).Wait(1000).Nmt(0x01, 0);
    return {"clean download",
            log.Text(),
            {"    0.000  NMT all nodes: pre-operational",
             "    0.001  NMT node 12: start the boot loader", "    2.002  node 12: abort",
             "    2.003  node 12: download initialisation: page 0, start 0x2000, 2048 bytes, "
             "checksum 0x1234",
             "    2.004  node 12: status OK",
             "    2.006  node 12: boot code information → 3100, hardware ID 0x05",
             "    2.008  node 12: sub-block 0x4800, 2048 bytes, 294 frames, 0.60 s, status OK",
             "    2.604  node 12: status OK",
             "    2.606  node 12: information block: 8 bytes at 0x4010..0x4017, 2 frames",
             "    2.608  node 12: write enable", "    2.609  node 12: program",
             "   14.610  node 12: status busy ×2, then OK, 0.41 s (after 12.00 s of silence)",
             "   15.016  node 12: jump to application", "   16.017  NMT all nodes: start"}};
}

// High byte first (two aborts before the initialisation); the frames to the board stop in the
// middle of a sub-block while other traffic goes on.
LogCase SilentMidDownload() {
    Log log;
    log.Nmt(0x80, 0).Nmt(0x96, 30).Wait(4000).To(30, {0xFF}).To(30, {0xFF});
    log.To(30, {0x50}).From(30, {});
    log.To(30, {0x00, 0x06, 0x20, 0x00, 0x10, 0x00, 0xAB, 0xCD}).Wait(1000);
    log.To(30, {0x50}).From(30, {}).To(30, {0xAA, 0x55});
    log.To(30, {0x10, 0x06, 0x40, 0x00, 0x08, 0x00, 0x12, 0x34});
    log.To(30, {0x50}).From(30, {0x06, 0x01}).Wait(200).To(30, {0x50}).From(30, {});
    log.Segments(30, 700).Wait(10000).Frame(0x701, {0x05});
    return {"silent board mid-download",
            log.Text(),
            {"    0.000  NMT all nodes: pre-operational",
             "    0.001  NMT node 30: start the boot loader", "    4.002  node 30: abort",
             "    4.003  node 30: abort", "    4.004  node 30: status OK",
             "    4.006  node 30: download initialisation: page 6, start 0x2000, 4096 bytes, "
             "checksum 0xABCD",
             "    5.007  node 30: status OK (after 1.00 s of silence)",
             "    5.009  node 30: write enable",
             "    5.010  node 30: sub-block 0x4000 page 6, 700 of 2048 bytes, 101 frames, 0.30 s, "
             "status busy, then OK, incomplete",
             "   15.315  node 30: download unfinished after sub-block 0x4000 page 6 (at 5.010); "
             "silent for 10.00 s to the end of the log"},
            0,
            0,
            1};
}

// Raw frames: the header keeps its page after the address; an identification text answers.
LogCase OverPdo() {
    Log log;
    log.To(5, {0x70}).From(5, {'H', 'T', ' ', '0', '0', '4', '2'}).Frame(0x205, {0xFF});
    log.Frame(0x205, {0x00, 0x00, 0x20, 0x00, 0x00, 0x10, 0x00, 0x00});
    log.Frame(0x205, {0x01, 0x00, 0xCD, 0xAB, 0x00, 0x10, 0x00, 0x00});
    log.To(5, {0x50}).From(5, {}).To(5, {0xAA, 0x55});
    log.Frame(0x205, {0x10, 0x00, 0x40, 0x06, 0x0E, 0x00, 0x34, 0x12}).Wait(10).Segments(5, 14);
    log.To(5, {0x80});
    return {"download over PDO",
            log.Text(),
            {"    0.000  node 5: boot code information → \"HT 0042\"",
             "    0.002  node 5: download over PDO begins",
             "    0.003  node 5: download over PDO: start 0x2000, 4096 bytes",
             "    0.004  node 5: download checksum 0xABCD, 4096 bytes",
             "    0.005  node 5: status OK", "    0.007  node 5: write enable",
             "    0.008  node 5: sub-block 0x4000 page 6, 14 bytes, 3 frames, 0.01 s",
             "    0.021  node 5: jump to application"}};
}

LogCase BusyBoard() {
    Log log;
    log.To(30, {0xAA, 0x55}).To(30, {0x30}).To(30, {0x50}).From(30, {0x06, 0x02});
    for (int poll = 0; poll < 4; ++poll) {
        const bool busy = poll < 3;
        log.Wait(100)
            .To(30, {0x50})
            .From(30, {busy ? uint8_t{0x06} : uint8_t{0x00}, busy ? uint8_t{0x02} : uint8_t{0x00}});
    }
    log.To(30, {0x30}).To(30, {0x50}).From(30, {0x03, 0x00});
    log.To(30, {0x40}).To(30, {0x50}).From(30, {0x06, 0x01});
    log.Wait(500).To(30, {0x50}).Wait(500).To(30, {0x50});
    return {
        "busy board",
        log.Text(),
        {"    0.000  node 30: write enable", "    0.001  node 30: program",
         "    0.002  node 30: status busy ×4, then OK, 0.41 s", "    0.412  node 30: program",
         "    0.413  node 30: status error 0x03 (no write enable)", "    0.415  node 30: validate",
         "    0.416  node 30: status busy, then no answer ×2, 1.00 s"}};
}

LogCase TwoNodes() {
    Log log;
    log.To(12, {0x70}).To(13, {0x70}).From(13, {0x00, '3', '1', '0', '0'});
    log.From(12, {0x00, '2', '0', '1', '5', 0x00, 0x00, 0x07});
    log.To(12, {0x10, 0x00, 0x00, 0x48, 0x0E, 0x00, 0x00, 0x00}).To(13, {0x50});
    log.To(12, {0x27, 1, 2, 3, 4, 5, 6, 7}).From(13, {}).To(13, {0x60, 0x00, 0x00, 0x40, 0x00});
    log.To(12, {0x2F, 1, 2, 3, 4, 5, 6, 7}).From(13, {0xA5, 0xA5}).Wait(50);
    log.To(13, {0x60, 0x00, 0x08, 0x40, 0x00}).To(13, {0xAA, 0x55}).From(12, {0x01, 0x02});
    // One abort after other requests still begins a low-byte-first download.
    log.To(13, {0xFF}).To(13, {0x00, 0x00, 0x00, 0x20, 0x00, 0x08, 0x34, 0x12});
    return {
        "two nodes interleaved",
        log.Text(),
        {"    0.001  node 13: boot code information → 3100, hardware ID 0x00",
         "    0.000  node 12: boot code information → 2015, hardware ID 0x07",
         "    0.005  node 13: status OK",
         "    0.004  node 12: sub-block 0x4800, 14 bytes, 3 frames, 0.01 s",
         "    0.008  node 13: read 0x4000, 16 bytes, 0.05 s, 1 unanswered",
         "    0.062  node 13: write enable",
         "    0.063  node 12: answer 01 02 00 00 00 00 00 00 without a request",
         "    0.064  node 13: abort",
         "    0.065  node 13: download initialisation: page 0, start 0x2000, 2048 bytes, checksum "
         "0x1234",
         "    0.065  node 12: download unfinished after sub-block 0x4800 (at 0.004); silent for "
         "0.00 s to the end of the log",
         "    0.065  node 13: download unfinished after download initialisation: page 0, start "
         "0x2000, 2048 bytes, checksum 0x1234 (at 0.065); silent for 0.00 s to the end of the "
         "log"}};
}

LogCase BadLines() {
    Log log;
    log.Line("garbage\n").Line("(1700000000.000000) can0\n").Line("(1.0) can0 800#00\n");
    log.Line("(1.0) can0 20C#123\n").Line("(1.0) can0 20C#112233445566778899\n");
    log.Line("1.0 can0 20C#11\n").Line("\n").Line("(1700000000.000000) can0 20C#R\n");
    log.Line("(1700000000.001000) can0 0000020C#FF00000000000000\n");
    log.Line("(1700000000.001500) can0 20C##1FF00000000000000\n");
    log.Line("(1700000000.002000) vcan1 20C#FF00000000000000\r\n");
    log.Line("(1.0) can0 20C#" + std::string(300, '0') + "\n").Line("(1.0) can0 20C#R9\n");
    log.Line("(1.0) can0 20C##X00\n").Line("(1700000000.002500) can0 200#FF00000000000000\n");
    log.Line("(1700000000.002700) can0 20C#2711223344556677\n");
    log.Line("(1700000000.003000) can0 20C#AA55000000000000");
    return {"bad lines and other traffic",
            log.Text(),
            {"    0.002  node 12: abort",
             "    0.002  node 12: data segments without a header: 1 frame, 7 bytes",
             "    0.003  node 12: write enable"},
            9,
            1,
            4};
}

struct Reading {
    std::vector<std::string> lines;
    uint64_t badLines = 0;
    uint64_t firstBadLine = 0;
    uint64_t otherFrames = 0;
};

Reading ReadInPieces(const std::string& log, size_t piece) {
    Reading reading;
    BusLogReader reader([&reading](const std::string& line) { reading.lines.push_back(line); });
    for (size_t at = 0; at < log.size(); at += piece) {
        reader.Feed(std::string_view(log).substr(at, piece));
    }
    reader.Finish();
    reading.badLines = reader.BadLines();
    reading.firstBadLine = reader.FirstBadLine();
    reading.otherFrames = reader.OtherFrames();
    return reading;
}

TEST(BusLogReader, TellsEachStepOfTheConversation) {
    for (const LogCase& logCase :
         {CleanDownload(), SilentMidDownload(), OverPdo(), BusyBoard(), TwoNodes(), BadLines()}) {
        // However the log is cut into pieces, it reads the same.
        for (const size_t piece : {logCase.log.size(), size_t{7}}) {
            const Reading reading = ReadInPieces(logCase.log, piece);
            EXPECT_EQ(reading.lines, logCase.lines) << logCase.name << ", pieces of " << piece;
            EXPECT_EQ(reading.badLines, logCase.badLines) << logCase.name;
            EXPECT_EQ(reading.firstBadLine, logCase.firstBadLine) << logCase.name;
            EXPECT_EQ(reading.otherFrames, logCase.otherFrames) << logCase.name;
        }
    }
}

}  // namespace
}  // namespace orv::buslog
