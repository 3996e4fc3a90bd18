#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The simulator's candump trace of one end-to-end case, read the way the boards read the frames,
// so that the runs of one case over different transports can be held against each other.
namespace orv::test {

struct TracedFrame {
    int64_t micros = 0;  // when it went out
    uint32_t id = 0;
    std::vector<uint8_t> data{};
};

// The frames of candump log lines, in order; other lines are skipped.
std::vector<TracedFrame> ParseCandump(const std::string& text);

// "ID#DATA", a data segment ending after its count of bytes: what follows them differs from one
// transport to the next and means nothing.
std::string MeaningOf(const TracedFrame& frame);

struct DownloadPauses {
    int variant = 1;  // of the boot protocol
    // A transport that waits this long after a poll before it reads the answer.
    int64_t pollAnswerDelayMs = 0;
};

// The pauses of a download to node that came out shorter than the boot loader must be given,
// one line each.
std::vector<std::string> ShortPauses(const std::vector<TracedFrame>& frames, uint8_t node,
                                     const DownloadPauses& download);

}  // namespace orv::test
