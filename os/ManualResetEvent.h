#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

// An event that stays signalled from Set until Reset, waking every waiter.
class ManualResetEvent {
  public:
    enum class WaitResult { Signalled, TimedOut };
    static constexpr uint32_t kInfinite = 0xFFFFFFFF;

    explicit ManualResetEvent(bool initiallySignalled = false) : signalled_(initiallySignalled) {}

    void Set();
    void Reset();
    bool IsSet() const;
    // Returns at once when signalled; a timeout of 0 only tests the state.
    WaitResult Wait(uint32_t timeoutMs);

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool signalled_;
};
