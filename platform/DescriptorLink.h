#pragma once

#include <unistd.h>

#include <atomic>
#include <optional>

#include "platform/CanLink.h"
#include "platform/WakeablePoll.h"

namespace orv {

// A CAN link over one file descriptor that it owns: Close from any thread wakes a Receive
// blocked in WaitReadable, and a link once closed stays closed.
class CDescriptorLink : public ICanLink {
  public:
    explicit CDescriptorLink(int fd) : fd_(fd) {}
    ~CDescriptorLink() override { close(fd_); }
    CDescriptorLink(const CDescriptorLink&) = delete;
    CDescriptorLink& operator=(const CDescriptorLink&) = delete;

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
            case CWakeablePoll::Result::Readable:
                return std::nullopt;
            case CWakeablePoll::Result::TimedOut:
                return ReceiveResult::Timeout;
            case CWakeablePoll::Result::Woken:
            case CWakeablePoll::Result::Failed:
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
    CWakeablePoll poll_;
};

}  // namespace orv
