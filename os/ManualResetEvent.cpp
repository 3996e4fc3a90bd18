#include "os/ManualResetEvent.h"

#include <chrono>

void ManualResetEvent::Set() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = true;
    }
    changed_.notify_all();
}

void ManualResetEvent::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = false;
}

bool ManualResetEvent::IsSet() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return signalled_;
}

ManualResetEvent::WaitResult ManualResetEvent::Wait(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (timeoutMs == kInfinite) {
        changed_.wait(lock, [this] { return signalled_; });
        return WaitResult::Signalled;
    }
    const bool signalled = changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                             [this] { return signalled_; });
    return signalled ? WaitResult::Signalled : WaitResult::TimedOut;
}
