#include "os/FileSearch.h"

#include <windows.h>

namespace orv {
namespace {

// FILETIME counts 100 ns steps since 1601; time_t counts seconds since 1970.
std::time_t ToTimeT(const FILETIME& time) {
    constexpr uint64_t kStepsPerSecond = 10000000;
    constexpr uint64_t kSecondsFrom1601To1970 = 11644473600;
    const uint64_t steps = static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
    return static_cast<std::time_t>(steps / kStepsPerSecond - kSecondsFrom1601To1970);
}

}  // namespace

std::optional<FoundFile> FindFile(const char* path) {
    WIN32_FIND_DATAA facts{};
    const HANDLE search = path == nullptr ? INVALID_HANDLE_VALUE : FindFirstFileA(path, &facts);
    if (search == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    FindClose(search);
    FoundFile found;
    found.name = facts.cFileName;
    found.lastWrite = ToTimeT(facts.ftLastWriteTime);
    found.isDirectory = (facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return found;
}

void FormatLocalDate(std::time_t when, char (&text)[20]) {
    std::tm local{};
    if (localtime_s(&local, &when) != 0 ||
        std::strftime(text, sizeof text, "%d.%m.%y", &local) == 0) {
        text[0] = '\0';
    }
}

}  // namespace orv
