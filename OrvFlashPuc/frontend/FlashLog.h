#pragma once

#include <cstdint>
#include <string>

namespace orv {

// The history of successful PUC downloads: one appended line per download.
class CFlashLog {
  public:
    explicit CFlashLog(const char* fileName);

    // True when the whole record was written.
    bool Append(const char* hexFileName, uint16_t checksum, const char* modificationDate,
                const char* flashingDate, uint8_t nodeId, uint32_t fileVersion);

  private:
    std::string fileName_;
};

}  // namespace orv
