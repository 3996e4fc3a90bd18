#include "support/MemoryCanLink.h"

#include <algorithm>
#include <chrono>

namespace orv::test {

void MemoryCanLink::Wire::Inject(const CanFrame& frame) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        incoming.push_back(frame);
    }
    changed.notify_all();
}

void MemoryCanLink::Wire::HangUp() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        closed = true;
    }
    changed.notify_all();
}

bool MemoryCanLink::Send(const CanFrame& /*frame*/) {
    std::lock_guard<std::mutex> lock(wire_->mutex);
    return !wire_->closed;
}

CanLink::ReceiveResult MemoryCanLink::Receive(CanFrame& frame, int timeoutMs) {
    std::unique_lock<std::mutex> lock(wire_->mutex);
    auto ready = [this] { return wire_->closed || !wire_->incoming.empty(); };
    if (timeoutMs < 0)
        wire_->changed.wait(lock, ready);
    else if (!wire_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready))
        return ReceiveResult::Timeout;
    if (wire_->incoming.empty())
        return ReceiveResult::Closed;
    frame = wire_->incoming.front();
    wire_->incoming.pop_front();
    return ReceiveResult::Frame;
}

CanFrame MakeFrame(uint32_t id, std::vector<uint8_t> data) {
    CanFrame frame;
    frame.id = id;
    frame.length = static_cast<uint8_t>(std::min<size_t>(data.size(), sizeof frame.data));
    std::copy_n(data.begin(), frame.length, frame.data);
    return frame;
}

}  // namespace orv::test
