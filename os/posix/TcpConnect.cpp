#include "os/TcpConnect.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orv {
namespace {

std::string Endpoint(const std::string& host, uint16_t port) {
    return host + ":" + std::to_string(port);
}

// 0 once the non-blocking connect has finished well, else the errno that ended it (ETIMEDOUT
// when the time ran out).
int FinishConnect(int fd, int status, int timeoutMs) {
    if (status == 0 || errno != EINPROGRESS) {
        return status == 0 ? 0 : errno;
    }
    pollfd writable{fd, POLLOUT, 0};
    int ready;
    do {
        ready = poll(&writable, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready == 0) {
        return ETIMEDOUT;
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (ready < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
        return errno;
    }
    return error;
}

}  // namespace

SocketHandle ConnectTcp(const std::string& host, uint16_t port, int timeoutMs, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int resolved = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (resolved != 0 || found == nullptr) {
        error = "cannot resolve " + host + ": " + gai_strerror(resolved);
        return kNoSocket;
    }
    const int fd = socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                          found->ai_protocol);
    if (fd < 0) {
        error = std::string("cannot open a socket: ") + std::strerror(errno);
        freeaddrinfo(found);
        return kNoSocket;
    }
    const int failure =
        FinishConnect(fd, connect(fd, found->ai_addr, found->ai_addrlen), timeoutMs);
    freeaddrinfo(found);
    if (failure != 0) {
        error = failure == ETIMEDOUT
                    ? "no answer from " + Endpoint(host, port) + " within " +
                          std::to_string(timeoutMs) + " ms"
                    : "cannot connect to " + Endpoint(host, port) + ": " + std::strerror(failure);
        close(fd);
        return kNoSocket;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    timeval sendLimit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
    const int noDelay = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    return fd;
}

bool SetReceiveLimit(SocketHandle socket, uint64_t limitMs) {
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(limitMs / 1000);
    limit.tv_usec = static_cast<suseconds_t>(limitMs % 1000 * 1000);
    return setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0;
}

long ReceiveBlocking(SocketHandle socket, void* into, size_t capacity) {
    for (;;) {
        const ssize_t got = recv(static_cast<int>(socket), into, capacity, 0);
        if (got >= 0) {
            return static_cast<long>(got);
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return kNothingYet;
        }
        if (errno != EINTR) {
            return kEnded;
        }
    }
}

}  // namespace orv
