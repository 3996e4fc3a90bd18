#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "canlink/SocketcandText.h"
#include "OrvCanSim/bus/BusPort.h"
#include "OrvCanSim/net/ConnectionActivity.h"
#include "OrvCanSim/bus/VirtualBus.h"

namespace orv::sim {

// One socketcand client of the bridge, from its greeting to its end: the handshake, then in
// raw mode its frames go on the bus and every bus frame from elsewhere goes to it. Each answer
// goes alone and without a line end: clients compare the handshake replies whole.
class BridgeSession {
  public:
    BridgeSession(VirtualBus& bus, const std::string& channel, int fd, const std::string& peer,
                  ConnectionActivity& activity, uint32_t idleMs);
    // Detaches the client from the bus.
    ~BridgeSession();
    BridgeSession(const BridgeSession&) = delete;
    BridgeSession& operator=(const BridgeSession&) = delete;

    // Until the client leaves, stays idle too long or cannot be written to.
    void Run();

  private:
    enum class State { Greeted, Opened, Raw };

    bool Receive(SocketcandSplitter& splitter);
    bool Handle(const std::string& message);
    bool Open(const std::string& message);
    bool EnterRawMode();
    bool SendFrame(const std::string& message);
    bool Unknown(const std::string& message);
    void Forward();
    bool Write(const std::string& text);

    VirtualBus& bus_;
    const std::string& channel_;
    const int fd_;
    const std::string who_;
    ConnectionActivity& activity_;
    const uint32_t idleMs_;
    std::mutex writeMutex_;
    State state_ = State::Greeted;
    int unknownCommands_ = 0;
    std::unique_ptr<BusPort> port_;
    std::thread forwarder_;
};

}  // namespace orv::sim
