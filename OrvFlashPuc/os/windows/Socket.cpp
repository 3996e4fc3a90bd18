#include "os/Socket.h"

#include <winsock2.h>

namespace orv {
namespace {

SOCKET Native(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

}  // namespace

void CloseSocket(SocketHandle socket) {
    closesocket(Native(socket));
}

bool SendAll(SocketHandle socket, const void* bytes, size_t count) {
    const auto* next = static_cast<const char*>(bytes);
    size_t sent = 0;
    while (sent < count) {
        const int n = send(Native(socket), next + sent, static_cast<int>(count - sent), 0);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

// Asks whether anything has arrived first, so that a blocking socket is never left waiting in
// recv; one call, as every call costs a trip through the system.
long ReceiveAvailable(SocketHandle socket, void* into, size_t capacity) {
    WSAPOLLFD entry{Native(socket), POLLRDNORM, 0};
    const int ready = WSAPoll(&entry, 1, 0);
    if (ready == 0) {
        return kNothingYet;
    }
    if (ready < 0) {
        return kEnded;
    }
    const int got = recv(Native(socket), static_cast<char*>(into), static_cast<int>(capacity), 0);
    return got < 0 ? kEnded : static_cast<long>(got);
}

}  // namespace orv
