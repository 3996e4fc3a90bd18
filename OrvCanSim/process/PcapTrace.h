#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "OrvCanSim/process/FrameSink.h"

namespace orv::sim {

// Writes every frame of the bus to a pcapng capture, flushed per frame, so that the file opens
// whenever the simulator ends.
class PcapTrace : public FrameSink {
  public:
    // Throws std::runtime_error when the file cannot be created.
    PcapTrace(const std::string& path, const std::string& iface);
    ~PcapTrace() override;
    PcapTrace(const PcapTrace&) = delete;
    PcapTrace& operator=(const PcapTrace&) = delete;

    void Record(const CanFrame& frame, WallTime when) override;

  private:
    void Write(const std::vector<uint8_t>& bytes);

    std::FILE* file_;
};

}  // namespace orv::sim
