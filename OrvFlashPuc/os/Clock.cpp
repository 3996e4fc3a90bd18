#include "os/Clock.h"

#include <atomic>

namespace orv {
namespace {
SystemClock systemClock;
std::atomic<Clock*> current{&systemClock};
}  // namespace

Clock& CurrentClock() {
    return *current.load();
}

void SetClock(Clock* clock) {
    current.store(clock != nullptr ? clock : &systemClock);
}

}  // namespace orv
