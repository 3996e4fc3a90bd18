#pragma once

#include <cstdint>

// Reply capacities and waits of the boot-loader requests, as the gateway expects them.
namespace orv::protocol {

inline constexpr int kStatusOnlyCapacity = 16;
// Header and the node's 8 answer bytes.
inline constexpr int kWithDataCapacity = 24;
inline constexpr int kRawReplySize = 12;

inline constexpr uint32_t kShortTimeoutMs = 20000;
inline constexpr uint32_t kBootInitTimeoutMs = 200000;
inline constexpr uint32_t kEnterBootTimeoutMs = 40000;
inline constexpr uint32_t kAbortTimeoutMs = 60000;
inline constexpr uint32_t kSubblockTimeoutMs = 2000000;
inline constexpr uint32_t kRawFrameTimeoutMs = 200000;
// Only node parameters change hands; whether the node answers shows in the request after it.
inline constexpr uint32_t kConfigureTimeoutMs = 2;

// How long a transport waits for one reply frame of the node.
inline constexpr uint32_t kEnterBootReplyTimeoutMs = 500;
inline constexpr uint32_t kProbeReplyTimeoutMs = 60;

}  // namespace orv::protocol
