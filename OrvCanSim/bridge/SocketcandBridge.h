#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "OrvCanSim/net/TcpServer.h"
#include "OrvCanSim/bus/VirtualBus.h"

namespace orv::sim {

// The Ethernet-to-CAN bridge: a socketcand server whose one channel is the virtual bus. Each
// client in raw mode is a port of the bus; a client that sends no whole message and hears no
// frame for the idle time is closed.
class SocketcandBridge {
  public:
    static constexpr size_t kMaxClients = 32;

    // Throws std::runtime_error when it cannot listen.
    SocketcandBridge(VirtualBus& bus, const std::string& bindAddress, uint16_t port,
                     std::string channel, ConnectionLimits limits);

    uint16_t Port() const { return server_.Port(); }
    bool Stop(std::chrono::milliseconds grace) { return server_.Stop(grace); }

  private:
    VirtualBus& bus_;
    const std::string channel_;
    const ConnectionLimits limits_;
    TcpServer server_;  // last: its threads use the members above
};

}  // namespace orv::sim
