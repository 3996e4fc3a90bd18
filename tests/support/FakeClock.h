#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "os/Clock.h"

namespace orv::test {

// Records every requested pause and returns at once; time advances by the pauses alone.
class FakeClock : public Clock {
  public:
    FakeClock() { SetClock(this); }
    ~FakeClock() override { SetClock(nullptr); }
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;

    void SleepMs(uint32_t ms) override {
        std::lock_guard<std::mutex> lock(mutex_);
        sleeps_.push_back(ms);
        now_ += ms;
    }
    uint64_t NowMs() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return now_;
    }
    std::vector<uint32_t> Sleeps() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return sleeps_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<uint32_t> sleeps_;
    uint64_t now_ = 1000000;
};

// Also logs each pause as "sleep <ms>" among a test's other events, to check its place.
class LoggingClock : public FakeClock {
  public:
    explicit LoggingClock(std::vector<std::string>& log) : log_(log) {}
    void SleepMs(uint32_t ms) override {
        log_.push_back("sleep " + std::to_string(ms));
        FakeClock::SleepMs(ms);
    }

  private:
    std::vector<std::string>& log_;
};

}  // namespace orv::test
