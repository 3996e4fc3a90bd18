#pragma once

#include <cstdio>
#include <string>

#include "OrvCanSim/process/FrameSink.h"

namespace orv::sim {

// Writes every frame of the bus to a candump log file, one flushed line per frame, so that the
// file is complete whenever the simulator ends.
class CandumpTrace : public FrameSink {
  public:
    // Throws std::runtime_error when the file cannot be created.
    CandumpTrace(const std::string& path, std::string iface);
    ~CandumpTrace() override;
    CandumpTrace(const CandumpTrace&) = delete;
    CandumpTrace& operator=(const CandumpTrace&) = delete;

    void Record(const CanFrame& frame, WallTime when) override;

  private:
    std::FILE* file_;
    const std::string iface_;
};

}  // namespace orv::sim
