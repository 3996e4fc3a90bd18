#pragma once

#include <memory>
#include <vector>

#include "OrvCanSim/bus/VirtualBus.h"
#include "OrvCanSim/process/FrameSink.h"

namespace orv::sim {

// Hands every frame of the bus to each sink, for as long as the recorder lives. The bus has one
// observer, so the candump log and the capture share it through this.
class BusRecorder {
  public:
    BusRecorder(VirtualBus& bus, std::vector<std::unique_ptr<FrameSink>> sinks);
    ~BusRecorder();
    BusRecorder(const BusRecorder&) = delete;
    BusRecorder& operator=(const BusRecorder&) = delete;

  private:
    VirtualBus& bus_;
    const std::vector<std::unique_ptr<FrameSink>> sinks_;
};

}  // namespace orv::sim
