#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>

#include "OrvCanSim/net/ConnectionActivity.h"
#include "os/Socket.h"
#include "os/WakeablePoll.h"

namespace orv::sim {

// A TCP listener that serves each connection on a thread of its own, up to a limit. At the
// limit a new connection closes the one idle longest; when every one is carrying out a command,
// the new one is closed at once. Stop (or the destructor) shuts every connection down and waits
// for its handler.
class TcpServer {
  public:
    // Runs on the connection's thread and reports its activity; the server closes the socket
    // after it returns.
    using Handler = std::function<void(SocketHandle socket, const std::string& peer,
                                       ConnectionActivity& activity)>;

    // Throws std::runtime_error when it cannot listen. Port 0 picks a free port.
    TcpServer(std::string name, const std::string& bindAddress, uint16_t port,
              size_t maxConnections, Handler handler);
    ~TcpServer();
    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

    uint16_t Port() const { return port_; }
    // False when a handler is still busy after the grace time (one stuck in a long gateway
    // command); the server must then not be destroyed, and the process should end as it is.
    bool Stop(std::chrono::milliseconds grace = std::chrono::hours(1));

  private:
    struct Connection {
        SocketHandle socket;
        std::string peer;
        std::thread thread;
        ConnectionActivity activity;
        std::atomic<bool> finished{false};
    };

    void AcceptLoop();
    void Start(SocketHandle socket, const std::string& peer);
    bool MakeRoom(const std::string& newcomer);
    void ReapFinished();

    const std::string name_;
    const size_t maxConnections_;
    const Handler handler_;
    SocketHandle listener_ = kNoSocket;
    WakeablePoll wake_;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::list<Connection> connections_;
    std::thread acceptThread_;
};

}  // namespace orv::sim
