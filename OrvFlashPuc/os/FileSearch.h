#pragma once

#include <ctime>
#include <optional>
#include <string>

namespace orv {

// What a directory search reports about one file.
struct FoundFile {
    std::string name;  // without its directory
    std::time_t lastWrite = 0;
    bool isDirectory = false;
};

std::optional<FoundFile> FindFile(const char* path);

// "%d.%m.%y" in local time: two-digit day, month and year.
void FormatLocalDate(std::time_t when, char (&text)[20]);

}  // namespace orv
