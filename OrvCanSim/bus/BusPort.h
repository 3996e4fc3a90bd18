#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "canlink/CanLink.h"
#include "OrvCanSim/bus/VirtualBus.h"

namespace orv::sim {

struct StampedFrame {
    CanFrame frame;
    WallTime when;
};

// A client's attachment to the virtual bus, seen as a CAN link. Received frames wait in a
// bounded queue: when its reader falls behind, the oldest frames are dropped (as a CAN
// controller overruns), so a slow client never holds up the bus.
class BusPort : public CanLink, private BusNode {
  public:
    static constexpr size_t kDefaultCapacity = 4096;

    BusPort(VirtualBus& bus, std::string name, size_t capacity = kDefaultCapacity);
    ~BusPort() override;
    BusPort(const BusPort&) = delete;
    BusPort& operator=(const BusPort&) = delete;

    bool Send(const CanFrame& frame) override;
    ReceiveResult Receive(CanFrame& frame, int timeoutMs) override;
    ReceiveResult Receive(StampedFrame& frame, int timeoutMs);
    void Close() override;

    // From now on the port takes in at most count more frames and drops the rest; for a reader
    // that hands every frame on into a store of its own without bound.
    void LimitReceive(size_t count);

  private:
    void Deliver(const CanFrame& frame, WallTime when) override;

    VirtualBus& bus_;
    const std::string name_;
    const size_t capacity_;
    int port_;

    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<StampedFrame> received_;
    bool closed_ = false;
    bool overrunLogged_ = false;
    size_t receiveAllowance_ = SIZE_MAX;
};

}  // namespace orv::sim
