#include "OrvCanSim/net/TcpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "os/Clock.h"
#include "OrvCanSim/bus/SimLog.h"

namespace orv::sim {

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
        listen(listenFd_, SOMAXCONN) != 0) {
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

namespace {

std::string PeerName(const sockaddr_in& address) {
    char host[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &address.sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(address.sin_port));
}

}  // namespace

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
        const int yes = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        Start(fd, PeerName(peerAddress));
    }
}

void TcpServer::Start(int fd, const std::string& peer) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ || !MakeRoom(peer)) {
        SimLog("%s: %s refused, all %zu connections are carrying out a command", name_.c_str(),
               peer.c_str(), maxConnections_);
        close(fd);
        return;
    }
    SimLog("%s: %s connected", name_.c_str(), peer.c_str());
    Connection& connection = connections_.emplace_back();
    connection.fd = fd;
    connection.peer = peer;
    connection.thread = std::thread([this, &connection] {
        handler_(connection.fd, connection.peer, connection.activity);
        // The peer learns of the end now, not when the descriptor is reaped at the next accept.
        shutdown(connection.fd, SHUT_RDWR);
        SimLog("%s: %s disconnected", name_.c_str(), connection.peer.c_str());
        connection.finished = true;
    });
}

// True when one more connection may start: there is room, or the connection idle longest has
// been shut down to make some (it leaves at once). Called under mutex_.
bool TcpServer::MakeRoom(const std::string& newcomer) {
    ReapFinished();
    Connection* idlest = nullptr;
    size_t staying = 0;
    for (Connection& connection : connections_) {
        if (connection.activity.Evicted()) {
            continue;
        }
        ++staying;
        if (!connection.activity.Busy() &&
            (idlest == nullptr || connection.activity.LastMs() < idlest->activity.LastMs())) {
            idlest = &connection;
        }
    }
    if (staying < maxConnections_) {
        return true;
    }
    if (idlest == nullptr || !idlest->activity.Evict()) {
        return false;
    }
    SimLog("%s: %s idle for %llu ms, closed to make room for %s", name_.c_str(),
           idlest->peer.c_str(),
           static_cast<unsigned long long>(NowMs() - idlest->activity.LastMs()), newcomer.c_str());
    shutdown(idlest->fd, SHUT_RDWR);
    return true;
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
