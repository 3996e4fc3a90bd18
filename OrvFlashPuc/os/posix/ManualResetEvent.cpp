#include "os/ManualResetEvent.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace orv {

struct ManualResetEvent::State {
    std::mutex mutex;
    std::condition_variable changed;
    bool signalled;
};

ManualResetEvent::ManualResetEvent(bool initiallySignalled)
    : state_(new State{{}, {}, initiallySignalled}) {}

ManualResetEvent::~ManualResetEvent() = default;

void ManualResetEvent::Set() {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->signalled = true;
    }
    state_->changed.notify_all();
}

void ManualResetEvent::Reset() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->signalled = false;
}

bool ManualResetEvent::IsSet() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->signalled;
}

ManualResetEvent::WaitResult ManualResetEvent::Wait(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(state_->mutex);
    const auto signalled = [this] { return state_->signalled; };
    if (timeoutMs == kInfinite) {
        state_->changed.wait(lock, signalled);
        return WaitResult::Signalled;
    }
    return state_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), signalled)
               ? WaitResult::Signalled
               : WaitResult::TimedOut;
}

}  // namespace orv
