#include "TcpSocketPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace orv::test {
namespace {

bool Readable(int fd, int timeoutMs) {
    pollfd entry{fd, POLLIN, 0};
    return poll(&entry, 1, timeoutMs) > 0;
}

void PutU32Le(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

TcpSocketPeer::TcpSocketPeer(int backlog) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        listen(listener_, backlog) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        throw std::runtime_error("cannot listen on loopback");
    }
    port_ = ntohs(address.sin_port);
}

TcpSocketPeer::~TcpSocketPeer() {
    CloseConnection();
    close(listener_);
}

bool TcpSocketPeer::Accept() {
    CloseConnection();
    if (!Readable(listener_, 1000))
        return false;
    connection_ = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    return connection_ >= 0;
}

void TcpSocketPeer::Write(const std::vector<uint8_t>& bytes) {
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t done =
            send(connection_, bytes.data() + written, bytes.size() - written, MSG_NOSIGNAL);
        if (done <= 0)
            throw std::runtime_error("peer write failed");
        written += static_cast<size_t>(done);
    }
}

std::vector<uint8_t> TcpSocketPeer::Read(size_t count, int timeoutMs) {
    std::vector<uint8_t> bytes(count);
    size_t got = 0;
    while (got < count && Readable(connection_, timeoutMs)) {
        const ssize_t done = recv(connection_, bytes.data() + got, count - got, 0);
        if (done <= 0)
            break;
        got += static_cast<size_t>(done);
    }
    bytes.resize(got);
    return bytes;
}

bool TcpSocketPeer::ClientClosed(int timeoutMs) {
    uint8_t byte;
    while (Readable(connection_, timeoutMs)) {
        const ssize_t done = recv(connection_, &byte, 1, 0);
        if (done == 0)
            return true;
        if (done < 0)
            return errno == ECONNRESET;
    }
    return false;
}

void TcpSocketPeer::CloseConnection() {
    if (connection_ >= 0)
        close(connection_);
    connection_ = -1;
}

std::vector<uint8_t> GatewayReply(const std::vector<uint32_t>& words,
                                  const std::vector<uint8_t>& data) {
    std::vector<uint8_t> reply;
    PutU32Le(reply, static_cast<uint32_t>(4 + 4 * words.size() + data.size()));
    for (uint32_t word : words)
        PutU32Le(reply, word);
    reply.insert(reply.end(), data.begin(), data.end());
    return reply;
}

}  // namespace orv::test
