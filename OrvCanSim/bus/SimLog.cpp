#include "OrvCanSim/bus/SimLog.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

namespace orv::sim {
namespace {

std::mutex& LogMutex() {
    static std::mutex mutex;
    return mutex;
}

std::function<void(const std::string&)>& Sink() {
    static std::function<void(const std::string&)> sink;
    return sink;
}

}  // namespace

void SimLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list sizing;
    va_copy(sizing, args);
    const int needed = std::vsnprintf(nullptr, 0, format, sizing);
    va_end(sizing);
    std::string line;
    if (needed > 0) {
        std::vector<char> buffer(static_cast<size_t>(needed) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        line.assign(buffer.data(), static_cast<size_t>(needed));
    }
    va_end(args);

    std::lock_guard<std::mutex> lock(LogMutex());
    if (Sink()) {
        Sink()(line);
    } else {
        std::fprintf(stderr, "OrvCanSim: %s\n", line.c_str());
        std::fflush(stderr);
    }
}

std::function<void(const std::string&)> SetSimLogSink(
    std::function<void(const std::string&)> sink) {
    std::lock_guard<std::mutex> lock(LogMutex());
    std::swap(Sink(), sink);
    return sink;
}

}  // namespace orv::sim
