#include "os/SocketWait.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

namespace orv {

SocketWait WaitReadable(SocketHandle socket, int timeoutMs) {
    pollfd ready{static_cast<int>(socket), POLLIN, 0};
    int polled;
    do {
        polled = poll(&ready, 1, timeoutMs);
    } while (polled < 0 && errno == EINTR);
    if (polled < 0) {
        return SocketWait::Failed;
    }
    return polled == 0 ? SocketWait::TimedOut : SocketWait::Readable;
}

bool BytesWaiting(SocketHandle socket) {
    char byte;
    ssize_t got;
    do {
        got = recv(static_cast<int>(socket), &byte, 1, MSG_PEEK);
    } while (got < 0 && errno == EINTR);
    return got > 0;
}

}  // namespace orv
