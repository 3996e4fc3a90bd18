#include "os/Clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace orv {
namespace {
SystemClock systemClock;
std::atomic<IClock*> current{&systemClock};
}  // namespace

void SystemClock::SleepMs(uint32_t ms) {
    if (ms == 0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

uint64_t SystemClock::NowMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

IClock& Clock() {
    return *current.load();
}

void SetClock(IClock* clock) {
    current.store(clock != nullptr ? clock : &systemClock);
}

}  // namespace orv
