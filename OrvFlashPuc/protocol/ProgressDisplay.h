#pragma once

#include <cstdint>

// What the long steps show on a terminal while they run; nothing of it reaches standard output.
namespace orv::protocol {

enum class ProgressUnit { Subblocks, Bytes };

// The position in a run of sub-blocks, with the share done and, for transfers, an estimate of
// the time left from the pace so far.
class SubblockProgress {
  public:
    SubblockProgress(uint32_t total, ProgressUnit unit);
    ~SubblockProgress();
    SubblockProgress(const SubblockProgress&) = delete;
    SubblockProgress& operator=(const SubblockProgress&) = delete;

    // Shown before the sub-block after `done` finished ones.
    void Show(uint32_t done) const;

  private:
    uint32_t total_;
    ProgressUnit unit_;
    uint64_t startMs_;
};

// Sleeps ms in all; on a terminal in steps of a second, counting the seconds down.
void SleepCountingDown(uint32_t ms, const char* what);

}  // namespace orv::protocol
