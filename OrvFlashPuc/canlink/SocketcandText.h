#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "canlink/CanLink.h"

// The text side of the socketcand protocol: every message is "< words >" on a byte stream
// that may split or join messages anywhere.
namespace orv {

class SocketcandSplitter {
  public:
    // A message that grows past this without its closing bracket is garbage and is dropped.
    static constexpr size_t kMaxMessage = 512;

    void Feed(const char* bytes, size_t count);
    // The words between the next "<" and its ">", single-spaced; nullopt when no message is
    // complete yet. Text outside brackets is skipped.
    std::optional<std::string> Next();

  private:
    std::string buffer_;
    // Where the unread text of buffer_ begins.
    size_t read_ = 0;
};

// "frame ID SECONDS.MICROS HEXDATA" into a frame; false for anything else or malformed.
bool ParseSocketcandFrame(const std::string& message, CanFrame& frame);

// The whole "< send ID LEN B0 ... >" message for a frame.
std::string FormatSocketcandSend(const CanFrame& frame);

// The text after "error " when the message is "error ...", else nullopt.
std::optional<std::string> SocketcandErrorText(const std::string& message);

}  // namespace orv
