#include "OrvCanSim/process/CandumpTrace.h"

#include <stdexcept>

#include "OrvCanSim/bus/FrameText.h"

namespace orv::sim {

CandumpTrace::CandumpTrace(const std::string& path, std::string iface)
    : file_(std::fopen(path.c_str(), "w")), iface_(std::move(iface)) {
    if (file_ == nullptr) {
        throw std::runtime_error("cannot create the trace file " + path);
    }
}

CandumpTrace::~CandumpTrace() {
    std::fclose(file_);
}

void CandumpTrace::Record(const CanFrame& frame, WallTime when) {
    const std::string line = FormatCandumpLine(frame, when, iface_);
    std::fputs(line.c_str(), file_);
    std::fflush(file_);
}

}  // namespace orv::sim
