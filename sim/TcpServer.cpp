#include "sim/TcpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "sim/SimLog.h"

namespace orv::sim {

bool ReadExactly(int fd, void* buffer, size_t count, int timeoutMs) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        pollfd ready{fd, POLLIN, 0};
        const int polled = poll(&ready, 1, timeoutMs);
        if (polled < 0 && errno == EINTR) {
            continue;
        }
        if (polled <= 0) {
            return false;
        }
        const ssize_t got = recv(fd, bytes + done, count - done, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        done += static_cast<size_t>(got);
    }
    return true;
}

bool WriteAll(int fd, const void* buffer, size_t count) {
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        const ssize_t sent = send(fd, bytes + done, count - done, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        done += static_cast<size_t>(sent);
    }
    return true;
}

TcpServer::TcpServer(std::string name, const std::string& bindAddress, uint16_t port,
                     size_t maxConnections, Handler handler)
    : name_(std::move(name)), maxConnections_(maxConnections), handler_(std::move(handler)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (inet_pton(AF_INET, bindAddress.c_str(), &address.sin_addr) != 1) {
        throw std::runtime_error(name_ + ": not an IPv4 address: " + bindAddress);
    }
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    if (listenFd_ < 0 || setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
        bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listenFd_, 16) != 0) {
        const std::string why = std::strerror(errno);
        if (listenFd_ >= 0) {
            close(listenFd_);
        }
        throw std::runtime_error(name_ + ": cannot listen on " + bindAddress + ":" +
                                 std::to_string(port) + ": " + why);
    }
    socklen_t length = sizeof address;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

TcpServer::~TcpServer() {
    Stop();
}

void TcpServer::AcceptLoop() {
    while (!stopping_) {
        sockaddr_in peerAddress{};
        socklen_t length = sizeof peerAddress;
        const int fd =
            accept4(listenFd_, reinterpret_cast<sockaddr*>(&peerAddress), &length, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            if (!stopping_) {
                SimLog("%s: accept failed: %s", name_.c_str(), std::strerror(errno));
            }
            return;
        }
        char host[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &peerAddress.sin_addr, host, sizeof host);
        const std::string peer =
            std::string(host) + ":" + std::to_string(ntohs(peerAddress.sin_port));
        const int yes = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);

        std::lock_guard<std::mutex> lock(mutex_);
        ReapFinished();
        if (stopping_ || connections_.size() >= maxConnections_) {
            SimLog("%s: %s refused, %zu connections already", name_.c_str(), peer.c_str(),
                   connections_.size());
            close(fd);
            continue;
        }
        SimLog("%s: %s connected", name_.c_str(), peer.c_str());
        Connection& connection = connections_.emplace_back();
        connection.fd = fd;
        connection.thread = std::thread([this, &connection, peer] {
            handler_(connection.fd, peer);
            // The peer learns of the end now, not when the descriptor is reaped at the next
            // accept.
            shutdown(connection.fd, SHUT_RDWR);
            SimLog("%s: %s disconnected", name_.c_str(), peer.c_str());
            connection.finished = true;
        });
    }
}

// Joins and closes the connections whose handler has returned. Called under mutex_.
void TcpServer::ReapFinished() {
    for (auto it = connections_.begin(); it != connections_.end();) {
        if (it->finished) {
            it->thread.join();
            close(it->fd);
            it = connections_.erase(it);
        } else {
            ++it;
        }
    }
}

bool TcpServer::Stop(std::chrono::milliseconds grace) {
    if (!stopping_.exchange(true)) {
        // Wakes the blocked accept; the descriptor is closed only once nobody uses it.
        shutdown(listenFd_, SHUT_RDWR);
        acceptThread_.join();
        close(listenFd_);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    for (Connection& connection : connections_) {
        shutdown(connection.fd, SHUT_RDWR);
    }
    const auto deadline = std::chrono::steady_clock::now() + grace;
    for (Connection& connection : connections_) {
        while (!connection.finished && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    ReapFinished();
    return connections_.empty();
}

}  // namespace orv::sim
