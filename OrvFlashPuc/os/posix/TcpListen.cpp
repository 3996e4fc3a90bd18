#include "os/TcpListen.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orv {

SocketHandle ListenTcp(const std::string& address, uint16_t& port, std::string& reason) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) {
        reason = "not an IPv4 address";
        return kNoSocket;
    }
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int yes = 1;
    socklen_t length = sizeof local;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
        bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        listen(fd, SOMAXCONN) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        reason = std::strerror(errno);
        if (fd >= 0) {
            close(fd);
        }
        return kNoSocket;
    }
    port = ntohs(local.sin_port);
    return fd;
}

SocketHandle AcceptTcp(SocketHandle listener, std::string& peer, bool& again, std::string& reason) {
    sockaddr_in remote{};
    socklen_t length = sizeof remote;
    // Without SOCK_NONBLOCK the connection is blocking, whatever the listener is.
    const int fd = accept4(static_cast<int>(listener), reinterpret_cast<sockaddr*>(&remote),
                           &length, SOCK_CLOEXEC);
    if (fd < 0) {
        again = errno == EINTR || errno == ECONNABORTED || errno == EAGAIN || errno == EWOULDBLOCK;
        reason = std::strerror(errno);
        return kNoSocket;
    }
    const int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    char host[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &remote.sin_addr, host, sizeof host);
    peer = std::string(host) + ":" + std::to_string(ntohs(remote.sin_port));
    return fd;
}

void ShutdownSocket(SocketHandle socket) {
    shutdown(static_cast<int>(socket), SHUT_RDWR);
}

}  // namespace orv
