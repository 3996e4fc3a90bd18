#include "OrvCanSim/bus/FrameText.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>

namespace orv::sim {

std::string FormatTimestamp(WallTime when) {
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(when.time_since_epoch()).count();
    char text[40];
    std::snprintf(text, sizeof text, "%" PRId64 ".%06" PRId64,
                  static_cast<int64_t>(micros / 1000000), static_cast<int64_t>(micros % 1000000));
    return text;
}

std::string FormatCanId(const CanFrame& frame) {
    char id[12];
    if ((frame.id & kExtendedFrame) != 0) {
        std::snprintf(id, sizeof id, "%08X", static_cast<unsigned>(frame.id & kExtendedIdMask));
    } else {
        std::snprintf(id, sizeof id, "%03X", static_cast<unsigned>(frame.id & kStandardIdMask));
    }
    return id;
}

std::string FormatHexData(const CanFrame& frame) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t i = 0; i < frame.length && i < 8; ++i) {
        text += kDigits[frame.data[i] >> 4];
        text += kDigits[frame.data[i] & 0x0F];
    }
    return text;
}

std::string FormatCandumpLine(const CanFrame& frame, WallTime when, const std::string& iface) {
    return "(" + FormatTimestamp(when) + ") " + iface + " " + FormatCanId(frame) + "#" +
           FormatHexData(frame) + "\n";
}

}  // namespace orv::sim
