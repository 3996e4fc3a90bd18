#include "os/Console.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace orv {
namespace {
std::string* captureTarget = nullptr;
}

void ConsolePrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (captureTarget == nullptr) {
        std::vprintf(format, args);
    } else {
        va_list sizing;
        va_copy(sizing, args);
        const int needed = std::vsnprintf(nullptr, 0, format, sizing);
        va_end(sizing);
        if (needed > 0) {
            std::vector<char> buffer(static_cast<size_t>(needed) + 1);
            std::vsnprintf(buffer.data(), buffer.size(), format, args);
            captureTarget->append(buffer.data(), static_cast<size_t>(needed));
        }
    }
    va_end(args);
}

void ConsoleErrorPrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fflush(stderr);
}

void ConsoleFlush() {
    std::fflush(nullptr);
}

ConsoleCapture::ConsoleCapture() : previous_(captureTarget) {
    captureTarget = &text_;
}

ConsoleCapture::~ConsoleCapture() {
    captureTarget = previous_;
}

std::string ConsoleCapture::Take() {
    std::string taken;
    taken.swap(text_);
    return taken;
}

}  // namespace orv
