#include "transport/FrameRing.h"

namespace orv {

namespace {

constexpr size_t kInitialSlots = 64;

}  // namespace

FrameRing::FrameRing() : slots_(kInitialSlots) {}

void FrameRing::Push(const CanOpenLibrary::FrameRecord& record) {
    if (count_ == slots_.size()) {
        Grow();
    }
    slots_[(head_ + count_) % slots_.size()] = record;
    ++count_;
}

bool FrameRing::Pop(CanOpenLibrary::FrameRecord& record) {
    if (count_ == 0) {
        return false;
    }
    record = slots_[head_];
    head_ = (head_ + 1) % slots_.size();
    --count_;
    return true;
}

void FrameRing::Clear() {
    head_ = 0;
    count_ = 0;
}

// Unrolls the records into the front of twice the slots.
void FrameRing::Grow() {
    std::vector<CanOpenLibrary::FrameRecord> grown(slots_.size() * 2);
    for (size_t i = 0; i < count_; ++i) {
        grown[i] = slots_[(head_ + i) % slots_.size()];
    }
    slots_.swap(grown);
    head_ = 0;
}

}  // namespace orv
