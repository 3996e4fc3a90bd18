#pragma once

#include <unistd.h>

#include <atomic>
#include <optional>

#include "canlink/CanLink.h"
#include "canlink/WakeablePoll.h"

namespace orv {

// A CAN link over one file descriptor that it owns: Close from any thread wakes a Receive
// blocked in WaitReadable, and a link once closed stays closed.
class DescriptorLink : public ICanLink {
  public:
    explicit DescriptorLink(int fd) : fd_(fd) {}
    ~DescriptorLink() override { close(fd_); }
    DescriptorLink(const DescriptorLink&) = delete;
    DescriptorLink& operator=(const DescriptorLink&) = delete;

    void Close() override {
        closed_.store(true);
        poll_.Wake();
    }

  protected:
    // Nothing when the descriptor is readable; otherwise how Receive is to end.
    std::optional<ReceiveResult> WaitReadable(int timeoutMs) {
        if (closed_.load()) {
            return ReceiveResult::Closed;
        }
        switch (poll_.WaitReadable(fd_, timeoutMs)) {
            case WakeablePoll::Result::Readable:
                return std::nullopt;
            case WakeablePoll::Result::TimedOut:
                return ReceiveResult::Timeout;
            case WakeablePoll::Result::Woken:
            case WakeablePoll::Result::Failed:
                break;
        }
        return ReceiveResult::Closed;
    }

    // The far end has gone: every later Receive and Send fails.
    ReceiveResult Lost() {
        closed_.store(true);
        return ReceiveResult::Closed;
    }

    const int fd_;
    std::atomic<bool> closed_{false};
    WakeablePoll poll_;
};

}  // namespace orv
