#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "OrvBusLog/reader/BootConversation.h"

// Reads a candump log handed over in pieces of any size, in one pass: it holds only the line
// being read and each node's open step, so a log of any length takes the same memory.
namespace orv::buslog {

class BusLogReader {
  public:
    // Longer lines are not candump frames; the rest of such a line is skipped.
    static constexpr size_t kMaxLine = 256;

    explicit BusLogReader(BootConversation::LineSink sink) : conversation_(std::move(sink)) {}

    void Feed(std::string_view bytes);
    // The last line may lack its line end.
    void Finish();

    // Lines that are neither blank nor a frame, and the number of the first of them.
    uint64_t BadLines() const { return badLines_; }
    uint64_t FirstBadLine() const { return firstBadLine_; }
    uint64_t OtherFrames() const { return conversation_.OtherFrames(); }

  private:
    void EndLine();
    // False when the line is neither blank nor a frame.
    bool TakeLine();

    BootConversation conversation_;
    std::string line_;
    bool overlong_ = false;
    uint64_t lineNumber_ = 0;
    uint64_t badLines_ = 0;
    uint64_t firstBadLine_ = 0;
};

}  // namespace orv::buslog
