#pragma once

#include <string>

// Every console message of the tool goes through here, so that tests can read exactly what a
// service engineer would see.
namespace orv {

[[gnu::format(printf, 1, 2)]] void ConsolePrintf(const char* format, ...);

// For people watching, not for the tool's own output: a reason, a warning. Goes to standard
// error at once, or to a capture's error text.
[[gnu::format(printf, 1, 2)]] void ConsoleErrorPrintf(const char* format, ...);

// Flushes all streams, so that progress shows at once.
void ConsoleFlush();

// Progress for a person watching a terminal: one line on standard error, redrawn in place.
// Nothing is written when standard error is not a terminal, so pipes and logs keep only the
// messages, and standard output never carries it.
bool ProgressShown();
[[gnu::format(printf, 1, 2)]] void ProgressPrintf(const char* format, ...);
// Ends the progress: its line is blanked and no longer drawn again below new messages.
void ProgressClear();

// While alive, console output lands in a buffer instead of standard output, and reasons in
// another instead of standard error.
class ConsoleCapture {
  public:
    ConsoleCapture();
    ~ConsoleCapture();
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    const std::string& Text() const { return text_; }
    // Returns the text captured so far and starts a new buffer.
    std::string Take();
    const std::string& ErrorText() const { return errorText_; }

  private:
    std::string text_;
    std::string errorText_;
    std::string* previous_;
    std::string* previousError_;
};

}  // namespace orv
