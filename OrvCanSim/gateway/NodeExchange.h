#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "canlink/CanLink.h"

// The gateway board's frame-level steps on its CAN link.
namespace orv::sim {

using NodeFrame = std::array<uint8_t, 8>;

// An 8-byte standard frame; false when the link would not take it.
bool SendNodeFrame(CanLink& link, uint32_t id, const NodeFrame& data);
void SendNmt(CanLink& link, uint8_t specifier, uint8_t node);
// The data of the first standard frame with this identifier that arrives within timeoutMs
// (zeros after its length); frames with other identifiers, extended ones included, are dropped.
std::optional<NodeFrame> AwaitFrame(CanLink& link, uint32_t id, uint64_t timeoutMs);
// Drops every frame received so far.
void DropReceived(CanLink& link);

}  // namespace orv::sim
