#include "OrvCanSim/bridge/SocketcandBridge.h"

#include "OrvCanSim/bridge/BridgeSession.h"

namespace orv::sim {

SocketcandBridge::SocketcandBridge(VirtualBus& bus, const std::string& bindAddress, uint16_t port,
                                   std::string channel, ConnectionLimits limits)
    : bus_(bus),
      channel_(std::move(channel)),
      limits_(limits),
      server_("bridge", bindAddress, port, kMaxClients,
              [this](int fd, const std::string& peer, ConnectionActivity& activity) {
                  BridgeSession(bus_, channel_, fd, peer, activity, limits_.idleMs).Run();
              }) {}

}  // namespace orv::sim
