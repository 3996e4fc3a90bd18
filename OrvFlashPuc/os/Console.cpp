#include "os/Console.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "os/Terminal.h"

namespace orv {
namespace {
std::string* captureTarget = nullptr;
std::string* errorCaptureTarget = nullptr;
int progressState = -1;  // -1 not yet asked, 0 hidden, 1 shown
std::string progressText;
size_t drawnWidth = 0;

std::string Format(const char* format, va_list args) {
    va_list sizing;
    va_copy(sizing, args);
    const int needed = std::vsnprintf(nullptr, 0, format, sizing);
    va_end(sizing);
    if (needed <= 0) {
        return {};
    }
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    return std::string(buffer.data(), static_cast<size_t>(needed));
}

// Overwrites the whole previous line with spaces rather than an escape sequence, which not
// every console understands.
void DrawProgressLine(const std::string& text) {
    const size_t padding = drawnWidth > text.size() ? drawnWidth - text.size() : 0;
    std::fprintf(stderr, "\r%s%*s\r%s", text.c_str(), static_cast<int>(padding), "", text.c_str());
    std::fflush(stderr);
    drawnWidth = text.size();
}

void WriteMessage(const std::string& text, FILE* stream) {
    if (drawnWidth > 0) {
        std::fflush(stdout);
        DrawProgressLine("");
    }
    std::fputs(text.c_str(), stream);
    // A message that ends its line leaves room for the progress below it; one that goes on
    // later must not be broken up by it.
    if (!progressText.empty() && !text.empty() && text.back() == '\n') {
        std::fflush(stdout);
        DrawProgressLine(progressText);
    }
}
// Hands the message to the capture when there is one, else writes it to the stream.
void Emit(std::string* capture, FILE* stream, bool flush, const char* format, va_list args) {
    const std::string text = Format(format, args);
    if (capture != nullptr) {
        capture->append(text);
        return;
    }
    WriteMessage(text, stream);
    if (flush) {
        std::fflush(stream);
    }
}
}  // namespace

void ConsolePrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Emit(captureTarget, stdout, false, format, args);
    va_end(args);
}

void ConsoleErrorPrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Emit(errorCaptureTarget, stderr, true, format, args);
    va_end(args);
}

void ConsoleFlush() {
    std::fflush(nullptr);
}

bool ProgressShown() {
    if (progressState < 0) {
        progressState = StandardErrorIsTerminal() ? 1 : 0;
    }
    return progressState == 1;
}

void ProgressPrintf(const char* format, ...) {
    if (!ProgressShown()) {
        return;
    }
    va_list args;
    va_start(args, format);
    progressText = Format(format, args);
    va_end(args);
    std::fflush(stdout);
    DrawProgressLine(progressText);
}

void ProgressClear() {
    progressText.clear();
    if (drawnWidth > 0) {
        DrawProgressLine("");
    }
}

ConsoleCapture::ConsoleCapture() : previous_(captureTarget), previousError_(errorCaptureTarget) {
    captureTarget = &text_;
    errorCaptureTarget = &errorText_;
}

ConsoleCapture::~ConsoleCapture() {
    captureTarget = previous_;
    errorCaptureTarget = previousError_;
}

std::string ConsoleCapture::Take() {
    std::string taken;
    taken.swap(text_);
    return taken;
}

}  // namespace orv
