#include "frontend/FlashLog.h"

#include <cstdio>
#include <string>

#include "os/AppendFile.h"

namespace orv {

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
    // The terminating zero lands on the string's own terminator.
    std::string record(static_cast<size_t>(needed), '\0');
    std::snprintf(record.data(), record.size() + 1, kRecordFormat, hexFileName, checksum,
                  modificationDate, flashingDate, nodeId, fileVersion);
    return AppendText(fileName_, record);
}

}  // namespace orv
