#include "OrvCanSim/gateway/NodeExchange.h"

#include <algorithm>
#include <climits>

#include "OrvCanSim/bus/BootLoaderCodes.h"
#include "os/Clock.h"

namespace orv::sim {

bool SendNodeFrame(CanLink& link, uint32_t id, const NodeFrame& data) {
    CanFrame frame{.id = id, .length = 8};
    std::copy(data.begin(), data.end(), frame.data);
    return link.Send(frame);
}

void SendNmt(CanLink& link, uint8_t specifier, uint8_t node) {
    link.Send(CanFrame{.id = kNmtId, .length = 2, .data = {specifier, node}});
}

std::optional<NodeFrame> AwaitFrame(CanLink& link, uint32_t id, uint64_t timeoutMs) {
    const uint64_t deadline = NowMs() + timeoutMs;
    CanFrame frame;
    for (;;) {
        const uint64_t now = NowMs();
        const uint64_t left = deadline > now ? deadline - now : 0;
        if (link.Receive(frame, static_cast<int>(std::min<uint64_t>(left, INT_MAX))) !=
            CanLink::ReceiveResult::Frame) {
            return std::nullopt;
        }
        if (frame.id == id) {
            NodeFrame data{};
            std::copy(frame.data, frame.data + std::min<uint8_t>(frame.length, 8), data.begin());
            return data;
        }
    }
}

void DropReceived(CanLink& link) {
    CanFrame frame;
    while (link.Receive(frame, 0) == CanLink::ReceiveResult::Frame) {
    }
}

}  // namespace orv::sim
