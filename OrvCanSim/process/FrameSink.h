#pragma once

#include "OrvCanSim/bus/VirtualBus.h"

namespace orv::sim {

// A file that records the frames of the bus. Record runs on the bus thread, once per frame that
// went out, in bus order.
class FrameSink {
  public:
    virtual ~FrameSink() = default;
    virtual void Record(const CanFrame& frame, WallTime when) = 0;
};

}  // namespace orv::sim
