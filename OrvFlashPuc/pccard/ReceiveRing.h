#pragma once

#include <cstdint>

#include <mutex>
#include "os/ManualResetEvent.h"
#include "pccard/CanCard.h"

namespace orv {

// The 256 received frames a card keeps for its reader. One producer (a driver thread or
// callback) stores, the caller's thread takes; both meet under the ring's lock.
class ReceiveRing {
  public:
    static constexpr uint32_t kEntries = 256;
    // Where Take resets the wake-up event relative to releasing the lock; the drivers differ.
    enum class EventReset { BeforeUnlock, AfterUnlock };

    // Stores only when the entry at the write position is free and then sets the event while
    // still holding the lock; false when the frame was dropped because the reader is behind.
    bool StoreKeepingOldest(const CanCardFrame& frame);
    // Stores without looking at the entry: a reader 256 frames behind loses its oldest unread
    // frame to the newest. The caller signals with SignalStored once its batch is stored.
    void StoreOverwriting(const CanCardFrame& frame);
    void SignalStored() { rxEvent_.Set(); }
    void ResetSignal() { rxEvent_.Reset(); }

    // Takes the next frame in store order, waiting up to timeoutMs for one: 0 or
    // CARD_ERR_TIMEOUT.
    int Take(CanCardFrame* frame, uint32_t timeoutMs, EventReset eventReset);

    std::mutex& Section() { return section_; }

  private:
    struct Entry {
        CanCardFrame frame;
        bool full = false;
    };
    void StoreAt(Entry& entry, const CanCardFrame& frame);

    std::mutex section_;
    ManualResetEvent rxEvent_;
    Entry entries_[kEntries];
    uint32_t writeIndex_ = 0;
    uint32_t readIndex_ = 0;
};

}  // namespace orv
