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

namespace orv::sim {

// Reads exactly count bytes; waits at most timeoutMs for each piece (negative: no limit).
// False at the end of the stream, on an error or on a time-out.
bool ReadExactly(int fd, void* buffer, size_t count, int timeoutMs);
// False when the peer is gone.
bool WriteAll(int fd, const void* buffer, size_t count);

// A TCP listener that serves each connection on a thread of its own, up to a limit; further
// connections are closed at once. Stop (or the destructor) shuts every connection down and
// waits for its handler.
class TcpServer {
  public:
    // Runs on the connection's thread; the server closes the socket after it returns.
    using Handler = std::function<void(int fd, const std::string& peer)>;

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
        int fd;
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    void AcceptLoop();
    void ReapFinished();

    const std::string name_;
    const size_t maxConnections_;
    const Handler handler_;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::list<Connection> connections_;
    std::thread acceptThread_;
};

}  // namespace orv::sim
