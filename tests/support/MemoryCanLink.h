#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "canlink/CanLink.h"

namespace orv::test {

// A CAN link held in memory: the test injects frames to be received and hangs it up.
// Safe to use from several threads at once.
class MemoryCanLink : public CanLink {
  public:
    // Shared state, so the test keeps a handle after the link moved into its owner.
    struct Wire {
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<CanFrame> incoming;
        bool closed = false;

        void Inject(const CanFrame& frame);
        // Ends the link as a peer that hangs up would.
        void HangUp();
    };

    explicit MemoryCanLink(std::shared_ptr<Wire> wire) : wire_(std::move(wire)) {}

    bool Send(const CanFrame& frame) override;
    ReceiveResult Receive(CanFrame& frame, int timeoutMs) override;
    void Close() override { wire_->HangUp(); }

  private:
    std::shared_ptr<Wire> wire_;
};

CanFrame MakeFrame(uint32_t id, std::vector<uint8_t> data);

}  // namespace orv::test
