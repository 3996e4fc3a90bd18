#pragma once

#include <cstdint>

// Every pause and every millisecond-clock read of the tool goes through the current clock, so
// that tests can assert the exact pauses of a sequence without waiting for them.
namespace orv {

class Clock {
  public:
    virtual ~Clock() = default;
    virtual void SleepMs(uint32_t ms) = 0;
    // Milliseconds on a monotonic clock with an arbitrary origin.
    virtual uint64_t NowMs() = 0;
};

class SystemClock : public Clock {
  public:
    void SleepMs(uint32_t ms) override;
    uint64_t NowMs() override;
};

Clock& CurrentClock();

// Installs a clock for the whole process; nullptr restores the system clock.
void SetClock(Clock* clock);

inline void SleepMs(uint32_t ms) {
    CurrentClock().SleepMs(ms);
}
inline uint64_t NowMs() {
    return CurrentClock().NowMs();
}

}  // namespace orv
