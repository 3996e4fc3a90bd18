#include "os/SocketWait.h"

#include <winsock2.h>

namespace orv {

SocketWait WaitReadable(SocketHandle socket, int timeoutMs) {
    WSAPOLLFD ready{static_cast<SOCKET>(socket), POLLRDNORM, 0};
    const int polled = WSAPoll(&ready, 1, timeoutMs);
    if (polled < 0) {
        return SocketWait::Failed;
    }
    return polled == 0 ? SocketWait::TimedOut : SocketWait::Readable;
}

bool BytesWaiting(SocketHandle socket) {
    char byte;
    return recv(static_cast<SOCKET>(socket), &byte, 1, MSG_PEEK) > 0;
}

}  // namespace orv
