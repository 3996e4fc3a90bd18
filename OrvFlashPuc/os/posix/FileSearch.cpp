#include "os/FileSearch.h"

#include <sys/stat.h>

#include <cstring>

namespace orv {

std::optional<FoundFile> FindFile(const char* path) {
    struct stat facts {};
    if (path == nullptr || stat(path, &facts) != 0) {
        return std::nullopt;
    }
    FoundFile found;
    const char* slash = std::strrchr(path, '/');
    found.name = slash == nullptr ? path : slash + 1;
    found.lastWrite = facts.st_mtime;
    found.isDirectory = S_ISDIR(facts.st_mode);
    return found;
}

void FormatLocalDate(std::time_t when, char (&text)[20]) {
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr ||
        std::strftime(text, sizeof text, "%d.%m.%y", &local) == 0) {
        text[0] = '\0';
    }
}

}  // namespace orv
