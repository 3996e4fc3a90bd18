#pragma once

#include <cstdint>
#include <memory>

namespace orv {

// An event that stays signalled from Set until Reset, waking every waiter.
class ManualResetEvent {
  public:
    enum class WaitResult { Signalled, TimedOut };
    static constexpr uint32_t kInfinite = 0xFFFFFFFF;

    explicit ManualResetEvent(bool initiallySignalled = false);
    ~ManualResetEvent();
    ManualResetEvent(const ManualResetEvent&) = delete;
    ManualResetEvent& operator=(const ManualResetEvent&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;
    // Returns at once when signalled; a timeout of 0 only tests the state.
    WaitResult Wait(uint32_t timeoutMs);

  private:
    struct State;
    const std::unique_ptr<State> state_;
};

}  // namespace orv
