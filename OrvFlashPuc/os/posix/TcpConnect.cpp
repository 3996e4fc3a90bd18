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

#include "os/Clock.h"

namespace orv {
namespace {

constexpr int kKeepIdleS = 5;
constexpr int kKeepIntervalS = 2;
constexpr int kKeepProbes = (kDeadPeerMs / 1000 - kKeepIdleS) / kKeepIntervalS;

// 0 once connected, else the errno that says why.
int WaitConnected(int fd, int timeoutMs) {
    const uint64_t deadline = NowMs() + static_cast<uint64_t>(timeoutMs);
    pollfd writable{fd, POLLOUT, 0};
    for (;;) {
        const uint64_t now = NowMs();
        const int ready =
            now >= deadline ? 0 : poll(&writable, 1, static_cast<int>(deadline - now));
        if (ready == 0)
            return ETIMEDOUT;
        if (ready > 0)
            break;
        if (errno != EINTR)
            return errno;
    }
    int error = 0;
    socklen_t size = sizeof error;
    return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 ? error : errno;
}

// A connected socket to one address, or -1 with errno set.
int ConnectOne(const addrinfo& address, int timeoutMs) {
    const int fd = socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                          address.ai_protocol);
    if (fd < 0)
        return -1;
    int error = connect(fd, address.ai_addr, address.ai_addrlen) == 0 ? 0 : errno;
    if (error == EINPROGRESS)
        error = WaitConnected(fd, timeoutMs);
    if (error != 0) {
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

void Configure(int fd, int timeoutMs) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const timeval sendLimit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdleS, sizeof kKeepIdleS);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepIntervalS, sizeof kKeepIntervalS);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepProbes, sizeof kKeepProbes);
    // Probes wait while a request is unacknowledged; this bounds that case alike.
    const unsigned userTimeoutMs = kDeadPeerMs;
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
}

}  // namespace

SocketHandle ConnectTcp(const std::string& host, uint16_t port, int timeoutMs,
                        std::string& reason) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int resolved = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (resolved != 0) {
        reason = resolved == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(resolved);
        return kNoSocket;
    }
    int fd = -1;
    for (const addrinfo* address = found; address != nullptr && fd < 0; address = address->ai_next)
        fd = ConnectOne(*address, timeoutMs);
    if (fd < 0)
        reason = errno == ETIMEDOUT ? "no answer within " + std::to_string(timeoutMs) + " ms"
                                    : std::strerror(errno);
    freeaddrinfo(found);
    if (fd < 0)
        return kNoSocket;
    Configure(fd, timeoutMs);
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
