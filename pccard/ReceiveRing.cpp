#include "pccard/ReceiveRing.h"

#include <algorithm>

#include "platform/Clock.h"

void CReceiveRing::StoreAt(Entry& entry, const CanCardFrame& frame) {
    entry.frame = frame;
    entry.frame.length = std::min<uint32_t>(frame.length, sizeof frame.data);
    entry.full = true;
    writeIndex_ = (writeIndex_ + 1) % kEntries;
}

bool CReceiveRing::StoreKeepingOldest(const CanCardFrame& frame) {
    CSingleLock lock(&section_, true);
    Entry& entry = entries_[writeIndex_];
    if (entry.full) {
        return false;
    }
    StoreAt(entry, frame);
    rxEvent_.Set();
    return true;
}

void CReceiveRing::StoreOverwriting(const CanCardFrame& frame) {
    CSingleLock lock(&section_, true);
    StoreAt(entries_[writeIndex_], frame);
}

int CReceiveRing::Take(CanCardFrame* frame, uint32_t timeoutMs, EventReset eventReset) {
    const uint64_t start = orv::NowMs();
    for (;;) {
        CSingleLock lock(&section_, true);
        Entry& entry = entries_[readIndex_];
        if (entry.full) {
            *frame = entry.frame;
            entry.full = false;
            readIndex_ = (readIndex_ + 1) % kEntries;
            if (eventReset == EventReset::BeforeUnlock) {
                rxEvent_.Reset();
            }
            lock.Unlock();
            if (eventReset == EventReset::AfterUnlock) {
                rxEvent_.Reset();
            }
            return 0;
        }
        // A wake-up left over from frames already taken must not end the next wait early:
        // nothing can be stored between this reset and the wait but it sets the event again.
        rxEvent_.Reset();
        lock.Unlock();
        const uint64_t elapsed = orv::NowMs() - start;
        if (elapsed > timeoutMs) {
            return CARD_ERR_TIMEOUT;
        }
        const auto remaining = static_cast<uint32_t>(timeoutMs - elapsed);
        if (rxEvent_.Wait(remaining) == CManualResetEvent::WaitResult::TimedOut) {
            return CARD_ERR_TIMEOUT;
        }
    }
}
