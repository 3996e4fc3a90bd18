#include "os/Socket.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace orv {

bool StartSockets() {
    return true;
}

void CloseSocket(SocketHandle socket) {
    close(static_cast<int>(socket));
}

bool SendAll(SocketHandle socket, const void* bytes, size_t count) {
    const auto* next = static_cast<const char*>(bytes);
    size_t sent = 0;
    while (sent < count) {
        const ssize_t n = send(static_cast<int>(socket), next + sent, count - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

long ReceiveAvailable(SocketHandle socket, void* into, size_t capacity) {
    const ssize_t got = recv(static_cast<int>(socket), into, capacity, MSG_DONTWAIT);
    if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
        return kNothingYet;
    }
    return got < 0 ? kEnded : static_cast<long>(got);
}

}  // namespace orv
