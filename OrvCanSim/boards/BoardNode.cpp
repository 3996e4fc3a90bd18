#include "OrvCanSim/boards/BoardNode.h"

namespace orv::sim {

BoardNode::BoardNode(VirtualBus& bus, const BoardConfig& config,
                     std::chrono::milliseconds replyDelay)
    : bus_(bus), board_(config), replyDelay_(replyDelay), port_(bus.Attach(this)) {}

BoardNode::~BoardNode() {
    bus_.Detach(port_);
}

void BoardNode::Deliver(const CanFrame& frame, WallTime) {
    for (const CanFrame& answer : board_.HandleFrame(frame)) {
        if (!board_.Config().silent) {
            bus_.Transmit(port_, answer, replyDelay_);
        }
    }
}

}  // namespace orv::sim
