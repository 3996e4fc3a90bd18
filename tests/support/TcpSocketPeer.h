#pragma once

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace orv::test {

// The server end of one loopback TCP connection, driven from the test's own thread: replies
// can be written before the request they answer, since the kernel holds them until read.
class TcpSocketPeer {
  public:
    explicit TcpSocketPeer(int backlog = 4) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        auto* any = reinterpret_cast<sockaddr*>(&address);
        if (listener_ < 0 || bind(listener_, any, size) != 0 || listen(listener_, backlog) != 0 ||
            getsockname(listener_, any, &size) != 0)
            throw std::runtime_error("cannot listen on loopback");
        port_ = ntohs(address.sin_port);
    }
    ~TcpSocketPeer() {
        CloseConnection();
        close(listener_);
    }
    TcpSocketPeer(const TcpSocketPeer&) = delete;
    TcpSocketPeer& operator=(const TcpSocketPeer&) = delete;

    int Port() const { return port_; }
    // Takes the next pending connection; false when none comes within a second.
    bool Accept() {
        CloseConnection();
        connection_ = Readable(listener_, 1000) ? accept4(listener_, nullptr, nullptr, 0) : -1;
        return connection_ >= 0;
    }
    void Write(const std::vector<uint8_t>& bytes) {
        if (send(connection_, bytes.data(), bytes.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(bytes.size()))
            throw std::runtime_error("peer write failed");
    }
    void Say(const std::string& text) { Write(std::vector<uint8_t>(text.begin(), text.end())); }
    // What the client sent, up to count bytes, waiting at most timeoutMs for them.
    std::vector<uint8_t> Read(size_t count, int timeoutMs = 1000) {
        std::vector<uint8_t> bytes(count);
        size_t got = 0;
        ssize_t done = 1;
        while (got < count && done > 0 && Readable(connection_, timeoutMs)) {
            done = recv(connection_, bytes.data() + got, count - got, 0);
            got += done > 0 ? static_cast<size_t>(done) : 0;
        }
        bytes.resize(got);
        return bytes;
    }
    std::string Hear(size_t count) {
        const std::vector<uint8_t> bytes = Read(count);
        return std::string(bytes.begin(), bytes.end());
    }
    // True when the client has closed its end (after any unread bytes).
    bool ClientClosed() {
        uint8_t byte;
        ssize_t done = 1;
        while (done > 0 && Readable(connection_, 1000))
            done = recv(connection_, &byte, 1, 0);
        return done == 0 || (done < 0 && errno == ECONNRESET);
    }
    void CloseConnection() {
        if (connection_ >= 0)
            close(connection_);
        connection_ = -1;
    }

  private:
    static bool Readable(int fd, int timeoutMs) {
        pollfd entry{fd, POLLIN, 0};
        return poll(&entry, 1, timeoutMs) > 0;
    }
    int listener_ = -1;
    int connection_ = -1;
    int port_ = 0;
};

}  // namespace orv::test
