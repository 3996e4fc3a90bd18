#include "OrvCanSim/process/BusRecorder.h"

namespace orv::sim {

BusRecorder::BusRecorder(VirtualBus& bus, std::vector<std::unique_ptr<FrameSink>> sinks)
    : bus_(bus), sinks_(std::move(sinks)) {
    bus_.SetObserver([this](const CanFrame& frame, WallTime when) {
        for (const auto& sink : sinks_) {
            sink->Record(frame, when);
        }
    });
}

BusRecorder::~BusRecorder() {
    bus_.SetObserver(nullptr);
}

}  // namespace orv::sim
