#include "OrvCanSim/process/CandumpTrace.h"

#include <stdexcept>

#include "OrvCanSim/bus/FrameText.h"

namespace orv::sim {

CandumpTrace::CandumpTrace(VirtualBus& bus, const std::string& path, std::string iface)
    : bus_(bus), file_(std::fopen(path.c_str(), "w")), iface_(std::move(iface)) {
    if (file_ == nullptr) {
        throw std::runtime_error("cannot create the trace file " + path);
    }
    bus_.SetObserver([this](const CanFrame& frame, WallTime when) {
        const std::string line = FormatCandumpLine(frame, when, iface_);
        std::fputs(line.c_str(), file_);
        std::fflush(file_);
    });
}

CandumpTrace::~CandumpTrace() {
    bus_.SetObserver(nullptr);
    std::fclose(file_);
}

}  // namespace orv::sim
