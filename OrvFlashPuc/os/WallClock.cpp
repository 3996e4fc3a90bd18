#include "os/WallClock.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace orv {

// The calendar split of the platform's thread-safe gmtime (os/posix or os/windows).
bool SplitUtc(std::time_t when, std::tm& out);

std::string UtcTimestamp() {
    const auto now = std::chrono::system_clock::now();
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm parts{};
    if (!SplitUtc(std::chrono::system_clock::to_time_t(now), parts)) {
        return {};
    }
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  static_cast<int>(ms));
    return text;
}

}  // namespace orv
