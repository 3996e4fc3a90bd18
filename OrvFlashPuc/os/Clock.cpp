#include "os/Clock.h"

#include <atomic>

namespace orv {
namespace {
SystemClock systemClock;
std::atomic<IClock*> current{&systemClock};
}  // namespace

IClock& Clock() {
    return *current.load();
}

void SetClock(IClock* clock) {
    current.store(clock != nullptr ? clock : &systemClock);
}

}  // namespace orv
