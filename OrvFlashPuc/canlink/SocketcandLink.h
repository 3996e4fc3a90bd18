#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "canlink/CanLink.h"

namespace orv {

constexpr uint16_t kSocketcandDefaultPort = 29536;

// Connects to a socketcand server, opens the channel and switches to raw frames. Every step
// (connect, greeting, each reply) may take up to stepTimeoutMs; on failure error says why.
std::unique_ptr<CanLink> OpenSocketcandLink(const std::string& host, uint16_t port,
                                             const std::string& channel, int stepTimeoutMs,
                                             std::string& error);

}  // namespace orv
