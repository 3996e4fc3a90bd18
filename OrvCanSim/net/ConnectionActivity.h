#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "os/Socket.h"

namespace orv::sim {

// How long a server lets its clients be: idle between requests, and in the middle of one.
struct ConnectionLimits {
    // Far above the longest pause of a working client (the tool waits 12 s for a board to
    // program its flash), short enough that forgotten connections go.
    uint32_t idleMs = 60000;
    // A request that has begun must be complete within this time.
    uint32_t requestMs = 10000;
};

// What a connection's handler tells its server: when it last did something for its client and
// whether it is carrying out a command. A full server closes the connection idle longest to make
// room, but never one in the middle of a command.
class ConnectionActivity {
  public:
    ConnectionActivity();

    void Touch();
    uint64_t LastMs() const { return lastMs_; }
    // False when the server has already closed the connection to make room.
    bool BeginCommand();
    void EndCommand();
    // Handed to the server: false when the connection is carrying out a command (or was taken
    // already).
    bool Evict();
    bool Evicted() const { return state_ == State::Evicted; }
    bool Busy() const { return state_ == State::Busy; }

  private:
    enum class State { Idle, Busy, Evicted };

    std::atomic<uint64_t> lastMs_;
    std::atomic<State> state_{State::Idle};
};

// Waits until the client has sent something. False when it has closed the connection (or was
// evicted), or when the connection stayed idle idleMs since its last activity; that is logged
// under who.
bool AwaitClient(SocketHandle socket, const ConnectionActivity& activity, uint32_t idleMs,
                 const std::string& who);

}  // namespace orv::sim
