#include "OrvCanSim/net/TcpServer.h"

#include <stdexcept>

#include "OrvCanSim/bus/SimLog.h"
#include "os/Clock.h"
#include "os/TcpListen.h"

namespace orv::sim {

TcpServer::TcpServer(std::string name, const std::string& bindAddress, uint16_t port,
                     size_t maxConnections, Handler handler)
    : name_(std::move(name)), maxConnections_(maxConnections), handler_(std::move(handler)) {
    std::string reason;
    const uint16_t asked = port;
    listener_ = ListenTcp(bindAddress, port, reason);
    if (listener_ == kNoSocket || !wake_.Valid()) {
        if (listener_ != kNoSocket) {
            CloseSocket(listener_);
            reason = "no wake-up channel";
        }
        throw std::runtime_error(name_ + ": cannot listen on " + bindAddress + ":" +
                                 std::to_string(asked) + ": " + reason);
    }
    port_ = port;
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

TcpServer::~TcpServer() {
    Stop();
}

void TcpServer::AcceptLoop() {
    for (;;) {
        const WakeablePoll::Result ready = wake_.WaitReadable(listener_, -1);
        if (ready == WakeablePoll::Result::Woken) {
            return;
        }
        if (ready == WakeablePoll::Result::Failed) {
            SimLog("%s: waiting for connections failed", name_.c_str());
            return;
        }
        std::string peer;
        bool again = false;
        std::string reason;
        const SocketHandle socket = AcceptTcp(listener_, peer, again, reason);
        if (socket != kNoSocket) {
            Start(socket, peer);
        } else if (!again) {
            SimLog("%s: accept failed: %s", name_.c_str(), reason.c_str());
            return;
        }
    }
}

void TcpServer::Start(SocketHandle socket, const std::string& peer) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ || !MakeRoom(peer)) {
        SimLog("%s: %s refused, all %zu connections are carrying out a command", name_.c_str(),
               peer.c_str(), maxConnections_);
        CloseSocket(socket);
        return;
    }
    SimLog("%s: %s connected", name_.c_str(), peer.c_str());
    Connection& connection = connections_.emplace_back();
    connection.socket = socket;
    connection.peer = peer;
    connection.thread = std::thread([this, &connection] {
        handler_(connection.socket, connection.peer, connection.activity);
        // The peer learns of the end now, not when the socket is reaped at the next accept.
        ShutdownSocket(connection.socket);
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
    ShutdownSocket(idlest->socket);
    return true;
}

// Joins and closes the connections whose handler has returned. Called under mutex_.
void TcpServer::ReapFinished() {
    for (auto it = connections_.begin(); it != connections_.end();) {
        if (it->finished) {
            it->thread.join();
            CloseSocket(it->socket);
            it = connections_.erase(it);
        } else {
            ++it;
        }
    }
}

bool TcpServer::Stop(std::chrono::milliseconds grace) {
    if (!stopping_.exchange(true)) {
        // The listener is closed only once nobody waits on it.
        wake_.Wake();
        acceptThread_.join();
        CloseSocket(listener_);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    for (Connection& connection : connections_) {
        ShutdownSocket(connection.socket);
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
