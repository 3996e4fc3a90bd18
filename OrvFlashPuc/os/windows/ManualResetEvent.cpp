#include "os/ManualResetEvent.h"

#include <windows.h>

#include <new>

namespace orv {

struct ManualResetEvent::State {
    HANDLE event;
};

// An event that cannot be created leaves nothing to wait on: treat it as memory exhaustion.
ManualResetEvent::ManualResetEvent(bool initiallySignalled)
    : state_(new State{CreateEventW(nullptr, TRUE, initiallySignalled ? TRUE : FALSE, nullptr)}) {
    if (state_->event == nullptr) {
        throw std::bad_alloc();
    }
}

ManualResetEvent::~ManualResetEvent() {
    CloseHandle(state_->event);
}

void ManualResetEvent::Set() {
    SetEvent(state_->event);
}

void ManualResetEvent::Reset() {
    ResetEvent(state_->event);
}

bool ManualResetEvent::IsSet() const {
    return WaitForSingleObject(state_->event, 0) == WAIT_OBJECT_0;
}

ManualResetEvent::WaitResult ManualResetEvent::Wait(uint32_t timeoutMs) {
    const DWORD limit = timeoutMs == kInfinite ? INFINITE : timeoutMs;
    return WaitForSingleObject(state_->event, limit) == WAIT_OBJECT_0 ? WaitResult::Signalled
                                                                      : WaitResult::TimedOut;
}

}  // namespace orv
