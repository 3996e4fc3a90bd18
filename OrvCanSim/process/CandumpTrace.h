#pragma once

#include <cstdio>
#include <string>

#include "OrvCanSim/bus/VirtualBus.h"

namespace orv::sim {

// Writes every frame of the bus to a candump log file, one flushed line per frame, so that the
// file is complete whenever the simulator ends.
class CandumpTrace {
  public:
    // Throws std::runtime_error when the file cannot be created.
    CandumpTrace(VirtualBus& bus, const std::string& path, std::string iface);
    ~CandumpTrace();
    CandumpTrace(const CandumpTrace&) = delete;
    CandumpTrace& operator=(const CandumpTrace&) = delete;

  private:
    VirtualBus& bus_;
    std::FILE* file_;
    const std::string iface_;
};

}  // namespace orv::sim
