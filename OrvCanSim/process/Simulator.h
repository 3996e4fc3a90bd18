#pragma once

#include <memory>
#include <vector>

#include "OrvCanSim/boards/BoardNode.h"
#include "OrvCanSim/process/BusRecorder.h"
#include "OrvCanSim/gateway/GatewayServer.h"
#include "OrvCanSim/process/SimOptions.h"
#include "OrvCanSim/bridge/SocketcandBridge.h"
#include "OrvCanSim/bus/VirtualBus.h"

namespace orv::sim {

// The whole instrument: the bus, its boards, the trace and the front ends, built from the
// options. Construction throws std::runtime_error with one line when something cannot be set
// up (a port in use, an unreadable HEX file).
class Simulator {
  public:
    explicit Simulator(const SimOptions& options);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // "LISTEN gateway N PORT" per gateway, "LISTEN bridge PORT", then "READY", one line each.
    std::string ListenLines() const;

    // Closes the front ends. False when a connection is still busy with a long command after
    // the grace time: then the simulator must not be destroyed, and the process ends as it is.
    bool Shutdown(std::chrono::milliseconds grace);

  private:
    VirtualBus bus_;
    std::unique_ptr<BusRecorder> recorder_;
    std::vector<std::unique_ptr<BoardNode>> boards_;
    std::vector<std::unique_ptr<GatewayServer>> gateways_;
    std::unique_ptr<SocketcandBridge> bridge_;
};

}  // namespace orv::sim
