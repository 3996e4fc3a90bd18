#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "sim/TcpServer.h"
#include "sim/VirtualBus.h"

namespace orv::sim {

// The Ethernet-to-CAN bridge: a socketcand server whose one channel is the virtual bus. Each
// client in raw mode is a port of the bus.
class SocketcandBridge {
  public:
    static constexpr size_t kMaxClients = 32;

    // Throws std::runtime_error when it cannot listen.
    SocketcandBridge(VirtualBus& bus, const std::string& bindAddress, uint16_t port,
                     std::string channel);

    uint16_t Port() const { return server_.Port(); }
    bool Stop(std::chrono::milliseconds grace) { return server_.Stop(grace); }

  private:
    void Serve(int fd, const std::string& peer);

    VirtualBus& bus_;
    const std::string channel_;
    TcpServer server_;  // last: its threads use the members above
};

}  // namespace orv::sim
