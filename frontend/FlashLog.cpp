#include "frontend/FlashLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

namespace {

const char* TextOrEmpty(const char* text) {
    return text != nullptr ? text : "";
}

}  // namespace

CFlashLog::CFlashLog(const char* fileName) : fileName_(TextOrEmpty(fileName)) {}

bool CFlashLog::Append(const char* hexFileName, uint16_t checksum, const char* modificationDate,
                       const char* flashingDate, uint8_t nodeId, uint32_t fileVersion) {
    static constexpr const char* kRecordFormat = "%s %4X %s %s %2X %8X\n";
    hexFileName = TextOrEmpty(hexFileName);
    modificationDate = TextOrEmpty(modificationDate);
    flashingDate = TextOrEmpty(flashingDate);
    const int needed = std::snprintf(nullptr, 0, kRecordFormat, hexFileName, checksum,
                                     modificationDate, flashingDate, nodeId, fileVersion);
    if (needed < 0) {
        return false;
    }
    // The whole record goes out in one appending write, so that two tools flashing in the same
    // directory at once never interleave their lines.
    std::vector<char> record(static_cast<size_t>(needed) + 1);
    std::snprintf(record.data(), record.size(), kRecordFormat, hexFileName, checksum,
                  modificationDate, flashingDate, nodeId, fileVersion);

    handle_ = open(fileName_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (handle_ < 0) {
        return false;
    }
    ssize_t written = 0;
    do {
        written = write(handle_, record.data(), static_cast<size_t>(needed));
    } while (written < 0 && errno == EINTR);
    const bool closed = close(handle_) == 0;
    handle_ = -1;
    return written == needed && closed;
}
