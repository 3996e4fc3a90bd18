#include "OrvBusLog/reader/BootConversation.h"

#include <algorithm>
#include <cstdio>

#include "OrvBusLog/reader/StepText.h"

namespace orv::buslog {
namespace {

constexpr uint32_t kNetworkManagement = 0x000;
constexpr uint32_t kAnswerBase = 0x180;
constexpr uint32_t kRequestBase = 0x200;
constexpr uint32_t kNodeMask = 0x7F;
constexpr size_t kNodes = kNodeMask + 1;

std::string NetworkManagementAction(uint8_t specifier) {
    switch (specifier) {
        case 0x01:
            return "start";
        case 0x02:
            return "stop";
        case 0x80:
            return "pre-operational";
        case 0x81:
            return "reset";
        case 0x82:
            return "reset communication";
        case 0x96:
            return "start the boot loader";
        default:
            return "command " + Hex(specifier, 2);
    }
}

}  // namespace

BootConversation::BootConversation(LineSink sink)
    : sink_(std::move(sink)),
      stepSink_([this](int64_t micros, const std::string& text) { Line(micros, text); }) {
    nodes_.reserve(kNodes);
    for (size_t node = 0; node < kNodes; ++node) {
        nodes_.emplace_back(static_cast<uint8_t>(node), stepSink_);
    }
}

void BootConversation::Take(const LoggedFrame& logged) {
    if (!started_) {
        started_ = true;
        start_ = logged.micros;
    }
    const int64_t micros = logged.micros - start_;
    end_ = std::max(end_, micros);
    const CanFrame& frame = logged.frame;
    const uint32_t node = frame.id & kNodeMask;
    const uint32_t base = frame.id & ~kNodeMask;
    if (logged.kind != FrameKind::Data || logged.extended) {
        ++otherFrames_;
    } else if (frame.id == kNetworkManagement) {
        NetworkManagement(micros, frame);
    } else if (node != 0 && base == kRequestBase) {
        nodes_[node].Request(micros, frame);
    } else if (node != 0 && base == kAnswerBase) {
        nodes_[node].Answer(micros, frame);
    } else {
        ++otherFrames_;
    }
}

void BootConversation::Finish() {
    for (NodeConversation& node : nodes_) {
        node.Finish(end_);
    }
}

void BootConversation::Line(int64_t micros, const std::string& text) {
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "%9s  ", Stamp(micros).c_str());
    sink_(stamp + text);
}

void BootConversation::NetworkManagement(int64_t micros, const CanFrame& frame) {
    if (frame.length != 2) {
        Line(micros, "NMT: frame of " + Count(frame.length, "byte"));
        return;
    }
    const uint8_t node = frame.data[1];
    const std::string target = node == 0 ? "all nodes" : "node " + std::to_string(node);
    Line(micros, "NMT " + target + ": " + NetworkManagementAction(frame.data[0]));
}

}  // namespace orv::buslog
