#include "OrvCanSim/bus/BusPort.h"

#include <chrono>

#include "OrvCanSim/bus/SimLog.h"

namespace orv::sim {

BusPort::BusPort(VirtualBus& bus, std::string name, size_t capacity)
    : bus_(bus), name_(std::move(name)), capacity_(capacity), port_(bus.Attach(this)) {}

BusPort::~BusPort() {
    Close();
}

bool BusPort::Send(const CanFrame& frame) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) {
            return false;
        }
    }
    return bus_.Transmit(port_, frame);
}

CanLink::ReceiveResult BusPort::Receive(CanFrame& frame, int timeoutMs) {
    StampedFrame stamped;
    const ReceiveResult result = Receive(stamped, timeoutMs);
    if (result == ReceiveResult::Frame) {
        frame = stamped.frame;
    }
    return result;
}

CanLink::ReceiveResult BusPort::Receive(StampedFrame& frame, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto ready = [this] { return closed_ || !received_.empty(); };
    if (timeoutMs < 0) {
        arrived_.wait(lock, ready);
    } else if (!arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
        return ReceiveResult::Timeout;
    }
    if (closed_) {
        return ReceiveResult::Closed;
    }
    frame = received_.front();
    received_.pop_front();
    return ReceiveResult::Frame;
}

void BusPort::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) {
            return;
        }
        closed_ = true;
    }
    bus_.Detach(port_);
    arrived_.notify_all();
}

void BusPort::LimitReceive(size_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    receiveAllowance_ = count;
}

void BusPort::Deliver(const CanFrame& frame, WallTime when) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (receiveAllowance_ == 0) {
            return;
        }
        if (receiveAllowance_ != SIZE_MAX) {
            --receiveAllowance_;
        }
        if (received_.size() >= capacity_) {
            received_.pop_front();
            if (!overrunLogged_) {
                SimLog("%s: receive queue full, dropping its oldest frames", name_.c_str());
                overrunLogged_ = true;
            }
        } else {
            overrunLogged_ = false;
        }
        received_.push_back({frame, when});
    }
    arrived_.notify_one();
}

}  // namespace orv::sim
