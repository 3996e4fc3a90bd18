#include "protocol/ProgressDisplay.h"

#include <algorithm>

#include "image/ProgramImage.h"
#include "os/Clock.h"
#include "os/Console.h"

namespace orv::protocol {
namespace {
constexpr uint32_t kCountdownStepMs = 1000;
}

SubblockProgress::SubblockProgress(uint32_t total, ProgressUnit unit)
    : total_(total), unit_(unit), startMs_(ProgressShown() ? NowMs() : 0) {}

SubblockProgress::~SubblockProgress() {
    ProgressClear();
}

void SubblockProgress::Show(uint32_t done) const {
    if (!ProgressShown() || total_ == 0) {
        return;
    }
    const unsigned percent = done * 100 / total_;
    if (unit_ == ProgressUnit::Bytes) {
        const uint32_t block = CProgramImage::kSubblockSize;
        ProgressPrintf("read %u of %u bytes (%u %%)", done * block, total_ * block, percent);
        return;
    }
    if (done == 0) {
        ProgressPrintf("sub-block 1 of %u (0 %%)", total_);
        return;
    }
    const uint64_t leftMs = (NowMs() - startMs_) * (total_ - done) / done;
    ProgressPrintf("sub-block %u of %u (%u %%), about %llu s left", done + 1, total_, percent,
                   static_cast<unsigned long long>((leftMs + 999) / 1000));
}

void SleepCountingDown(uint32_t ms, const char* what) {
    if (!ProgressShown()) {
        SleepMs(ms);
        return;
    }
    for (uint32_t left = ms; left > 0;) {
        ProgressPrintf("%s: %u s left", what, (left + kCountdownStepMs - 1) / kCountdownStepMs);
        const uint32_t step = std::min(left, kCountdownStepMs);
        SleepMs(step);
        left -= step;
    }
    ProgressClear();
}

}  // namespace orv::protocol
