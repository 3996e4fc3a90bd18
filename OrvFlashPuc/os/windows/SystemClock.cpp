#include <windows.h>

#include "os/Clock.h"

namespace orv {

// Sleep(0) gives up the rest of the time slice, as a yield should.
void SystemClock::SleepMs(uint32_t ms) {
    Sleep(ms);
}

// The performance counter, not the tick count: the tick count moves in steps of the timer
// interrupt (up to 16 ms), too coarse for the 2 ms waits of the boot protocol.
uint64_t SystemClock::NowMs() {
    static const uint64_t ticksPerSecond = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<uint64_t>(frequency.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const uint64_t ticks = static_cast<uint64_t>(now.QuadPart);
    return ticks / ticksPerSecond * 1000 + ticks % ticksPerSecond * 1000 / ticksPerSecond;
}

}  // namespace orv
