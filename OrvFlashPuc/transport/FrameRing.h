#pragma once

#include <cstddef>
#include <vector>

#include "standins/CanOpenEngine.h"

namespace orv {

// Received frame records in arrival order. The slots are reused round and round and only grow
// (doubling) when every one is taken, so a frame costs no allocation of its own and none is
// ever dropped; emptying keeps the slots. Not locked: its owner guards it.
class FrameRing {
  public:
    FrameRing();
    void Push(const CanOpenLibrary::FrameRecord& record);
    // False when empty.
    bool Pop(CanOpenLibrary::FrameRecord& record);
    void Clear();
    size_t Size() const { return count_; }

  private:
    void Grow();

    std::vector<CanOpenLibrary::FrameRecord> slots_;
    size_t head_ = 0;
    size_t count_ = 0;
};

}  // namespace orv
