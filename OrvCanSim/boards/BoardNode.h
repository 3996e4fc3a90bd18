#pragma once

#include <chrono>

#include "OrvCanSim/boards/BootBoard.h"
#include "OrvCanSim/bus/VirtualBus.h"

namespace orv::sim {

// A board attached to the bus: it sees every frame and puts its answers on the bus after the
// reply delay, unless it is silent.
class BoardNode : private BusNode {
  public:
    BoardNode(VirtualBus& bus, const BoardConfig& config, std::chrono::milliseconds replyDelay);
    ~BoardNode() override;
    BoardNode(const BoardNode&) = delete;
    BoardNode& operator=(const BoardNode&) = delete;

  private:
    void Deliver(const CanFrame& frame, WallTime when) override;

    VirtualBus& bus_;
    BootBoard board_;
    const std::chrono::milliseconds replyDelay_;
    int port_;
};

}  // namespace orv::sim
