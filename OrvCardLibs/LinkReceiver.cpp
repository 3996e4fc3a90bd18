#include "OrvCardLibs/LinkReceiver.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace orv {

namespace cardlibs {

std::unique_ptr<LinkReceiver> LinkReceiver::OpenFromEnvironment(const char* libraryName,
                                                                size_t capacity) {
    const char* description = std::getenv("ORV_CAN_LINK");
    if (description == nullptr || *description == '\0') {
        std::fprintf(stderr,
                     "%s: ORV_CAN_LINK names no CAN link (socketcand:HOST[:PORT][/CHANNEL] or "
                     "socketcan:IFACE)\n",
                     libraryName);
        return nullptr;
    }
    std::string error;
    std::unique_ptr<CanLink> link = OpenCanLink(description, error);
    if (!link) {
        std::fprintf(stderr, "%s: %s\n", libraryName, error.c_str());
        return nullptr;
    }
    return std::make_unique<LinkReceiver>(std::move(link), capacity);
}

LinkReceiver::LinkReceiver(std::unique_ptr<CanLink> link, size_t capacity)
    : link_(std::move(link)), capacity_(capacity), thread_(&LinkReceiver::Receive, this) {}

LinkReceiver::~LinkReceiver() {
    link_->Close();
    thread_.join();
}

bool LinkReceiver::Send(const CanFrame& frame) {
    return link_->Send(frame);
}

bool LinkReceiver::Take(ReceivedFrame& received) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.empty()) {
        return false;
    }
    received = queue_.front();
    queue_.pop_front();
    return true;
}

void LinkReceiver::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.clear();
}

bool LinkReceiver::Empty() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.empty();
}

void LinkReceiver::SetAccepting(bool accepting) {
    std::lock_guard<std::mutex> lock(mutex_);
    accepting_ = accepting;
}

void LinkReceiver::SetArrivalHandler(std::function<void()> handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    onArrival_ = std::move(handler);
}

void LinkReceiver::Receive() {
    const auto opened = std::chrono::steady_clock::now();
    for (;;) {
        ReceivedFrame received;
        const CanLink::ReceiveResult result = link_->Receive(received.frame, -1);
        if (result == CanLink::ReceiveResult::Closed) {
            return;
        }
        if (result != CanLink::ReceiveResult::Frame) {
            continue;
        }
        received.timestampUs =
            static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                      std::chrono::steady_clock::now() - opened)
                                      .count());
        std::function<void()> onArrival;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!accepting_ || queue_.size() >= capacity_) {
                continue;
            }
            queue_.push_back(received);
            onArrival = onArrival_;
        }
        if (onArrival) {
            onArrival();
        }
    }
}

}  // namespace cardlibs

}  // namespace orv
