#include "BusTrace.h"

#include <cinttypes>
#include <cstdio>
#include <sstream>

namespace orv::test {
namespace {

constexpr uint32_t kNmt = 0x000;
constexpr uint32_t kToNode = 0x200;
constexpr uint32_t kFromNode = 0x180;
// The bus thread stamps a frame when it hands it on: a late wake-up can take this much off the
// pause before the next one.
constexpr int64_t kStampSlackMicros = 25000;

bool Is(const TracedFrame& frame, uint32_t id, uint8_t first) {
    return frame.id == id && !frame.data.empty() && frame.data[0] == first;
}

// The pause that must precede frame i since frame from, and why; 0 when none.
int64_t RequiredPauseMs(const std::vector<TracedFrame>& frames, size_t i, uint8_t node,
                        const DownloadPauses& download, std::string& why, size_t& from) {
    const int variant = download.variant;
    from = i - 1;
    const TracedFrame& before = frames[i - 1];
    const uint32_t request = kToNode | node;
    if (before.id == kNmt && before.data.size() == 2 && before.data[0] == 0x96) {
        why = "after the node was sent to its boot loader";
        return variant == 1 ? 2000 : 4000;
    }
    if (variant == 2 && Is(before, request, 0x00)) {
        why = "after the initialisation frame";
        return 1000;
    }
    const bool firstSegment =
        frames[i].id == request && !frames[i].data.empty() && (frames[i].data[0] & 0xF8) == 0x20;
    if (variant == 1 && firstSegment && i >= 3 && Is(frames[i - 3], request, 0x10)) {
        why = "between a sub-block header's poll and its first segment";
        from = i - 2;
        return download.pollAnswerDelayMs + 300;
    }
    if (variant == 2 && before.id == (kFromNode | node) && before.data.size() > 1 &&
        (before.data[1] & 0x03) != 0 && Is(frames[i], request, 0x50)) {
        for (size_t j = i - 1; j-- > 0;) {
            if (Is(frames[j], request, 0x10) || Is(frames[j], request, 0x30)) {
                why = "before polling a busy node again";
                return frames[j].data[0] == 0x10 ? 200 : 100;
            }
        }
    }
    return 0;
}

}  // namespace

std::vector<TracedFrame> ParseCandump(const std::string& text) {
    std::vector<TracedFrame> frames;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        int64_t seconds = 0, micros = 0;
        unsigned id = 0;
        char iface[32], data[20] = "";
        if (std::sscanf(line.c_str(), "(%" SCNd64 ".%" SCNd64 ") %31s %x#%19s", &seconds, &micros,
                        iface, &id, data) < 4)
            continue;
        TracedFrame frame{.micros = seconds * 1000000 + micros, .id = id};
        for (size_t at = 0; data[at] != 0 && data[at + 1] != 0; at += 2)
            frame.data.push_back(
                static_cast<uint8_t>(std::stoul(std::string(data + at, 2), nullptr, 16)));
        frames.push_back(frame);
    }
    return frames;
}

std::string MeaningOf(const TracedFrame& frame) {
    size_t read = frame.data.size();
    if (frame.id != kNmt && !frame.data.empty() && (frame.data[0] & 0xF0) == 0x20)
        read = std::min<size_t>(read, 1 + (frame.data[0] & 0x07));
    char text[64];
    int at = std::snprintf(text, sizeof text, "%03X#", frame.id);
    for (size_t i = 0; i < read; ++i)
        at +=
            std::snprintf(text + at, sizeof text - static_cast<size_t>(at), "%02X", frame.data[i]);
    return text;
}

std::vector<std::string> ShortPauses(const std::vector<TracedFrame>& frames, uint8_t node,
                                     const DownloadPauses& download) {
    std::vector<std::string> found;
    for (size_t i = 1; i < frames.size(); ++i) {
        std::string why;
        size_t from = 0;
        const int64_t requiredMs = RequiredPauseMs(frames, i, node, download, why, from);
        const int64_t pausedMicros = frames[i].micros - frames[from].micros;
        if (requiredMs > 0 && pausedMicros + kStampSlackMicros < requiredMs * 1000)
            found.push_back(std::to_string(pausedMicros / 1000) + " ms " + why + " (" +
                            std::to_string(requiredMs) + " ms due) before " + MeaningOf(frames[i]));
    }
    return found;
}

}  // namespace orv::test
