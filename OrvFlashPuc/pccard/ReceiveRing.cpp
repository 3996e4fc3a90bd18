#include "pccard/ReceiveRing.h"

#include <algorithm>

#include "os/Clock.h"

namespace orv {

void ReceiveRing::StoreAt(Entry& entry, const CanCardFrame& frame) {
    entry.frame = frame;
    entry.frame.length = std::min<uint32_t>(frame.length, sizeof frame.data);
    entry.full = true;
    writeIndex_ = (writeIndex_ + 1) % kEntries;
}

bool ReceiveRing::StoreKeepingOldest(const CanCardFrame& frame) {
    std::lock_guard lock(section_);
    Entry& entry = entries_[writeIndex_];
    if (entry.full) {
        return false;
    }
    StoreAt(entry, frame);
    rxEvent_.Set();
    return true;
}

void ReceiveRing::StoreOverwriting(const CanCardFrame& frame) {
    std::lock_guard lock(section_);
    StoreAt(entries_[writeIndex_], frame);
}

int ReceiveRing::Take(CanCardFrame* frame, uint32_t timeoutMs, EventReset eventReset) {
    const uint64_t start = NowMs();
    for (;;) {
        std::unique_lock lock(section_);
        Entry& entry = entries_[readIndex_];
        if (entry.full) {
            *frame = entry.frame;
            entry.full = false;
            readIndex_ = (readIndex_ + 1) % kEntries;
            if (eventReset == EventReset::BeforeUnlock) {
                rxEvent_.Reset();
            }
            lock.unlock();
            if (eventReset == EventReset::AfterUnlock) {
                rxEvent_.Reset();
            }
            return 0;
        }
        // A wake-up left over from frames already taken must not end the next wait early:
        // nothing can be stored between this reset and the wait but it sets the event again.
        rxEvent_.Reset();
        lock.unlock();
        const uint64_t elapsed = NowMs() - start;
        if (elapsed > timeoutMs) {
            return CARD_ERR_TIMEOUT;
        }
        const auto remaining = static_cast<uint32_t>(timeoutMs - elapsed);
        if (rxEvent_.Wait(remaining) == ManualResetEvent::WaitResult::TimedOut) {
            return CARD_ERR_TIMEOUT;
        }
    }
}

}  // namespace orv
