#pragma once

#include <atomic>
#include <optional>

#include "canlink/CanLink.h"
#include "os/Socket.h"
#include "os/WakeablePoll.h"

namespace orv {

// A CAN link over one socket that it owns: Close from any thread wakes a Receive blocked in
// WaitReadable, and a link once closed stays closed.
class DescriptorLink : public CanLink {
  public:
    explicit DescriptorLink(SocketHandle socket) : socket_(socket) {}
    ~DescriptorLink() override { CloseSocket(socket_); }
    DescriptorLink(const DescriptorLink&) = delete;
    DescriptorLink& operator=(const DescriptorLink&) = delete;

    void Close() override {
        closed_.store(true);
        poll_.Wake();
    }

  protected:
    // Nothing when the socket is readable; otherwise how Receive is to end.
    std::optional<ReceiveResult> WaitReadable(int timeoutMs) {
        if (closed_.load()) {
            return ReceiveResult::Closed;
        }
        switch (poll_.WaitReadable(socket_, timeoutMs)) {
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

    const SocketHandle socket_;
    std::atomic<bool> closed_{false};
    WakeablePoll poll_;
};

}  // namespace orv
