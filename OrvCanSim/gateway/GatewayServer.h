#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "OrvCanSim/bus/VirtualBus.h"
#include "OrvCanSim/net/TcpServer.h"

namespace orv::sim {

// A CAN gateway board on TCP. Requests and replies are framed by their leading 32-bit
// little-endian byte count. The board answers OPEN and RESET itself and carries out every other
// command on the virtual bus with a boot session of its own, one per connection: its own reading
// of the commands, which the end-to-end tests hold against the tool's.
class GatewayServer {
  public:
    static constexpr size_t kMaxConnections = 16;

    // closeAfter: close each connection after that many requests (0: never). Throws
    // std::runtime_error when it cannot listen.
    GatewayServer(VirtualBus& bus, int board, const std::string& bindAddress, uint16_t port,
                  uint32_t closeAfter, ConnectionLimits limits);

    int Board() const { return board_; }
    uint16_t Port() const { return server_.Port(); }
    bool Stop(std::chrono::milliseconds grace) { return server_.Stop(grace); }

  private:
    void Serve(int fd, const std::string& peer, ConnectionActivity& activity);
    bool ReadRequest(int fd, const std::string& who, ConnectionActivity& activity,
                     std::vector<uint8_t>& request) const;

    VirtualBus& bus_;
    const int board_;
    const std::string name_;
    const uint32_t closeAfter_;
    const ConnectionLimits limits_;
    TcpServer server_;  // last: its threads use the members above
};

}  // namespace orv::sim
