#include "os/WakeablePoll.h"

#include <winsock2.h>

namespace orv {
namespace {

SOCKET LoopbackDatagramSocket(sockaddr_in& address) {
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    if (s != INVALID_SOCKET &&
        (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
         getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) != 0)) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

}  // namespace

WakeablePoll::WakeablePoll() {
    sockaddr_in readAddress;
    sockaddr_in writeAddress;
    if (!StartSockets()) {
        return;
    }
    const SOCKET reader = LoopbackDatagramSocket(readAddress);
    const SOCKET writer = LoopbackDatagramSocket(writeAddress);
    if (reader == INVALID_SOCKET || writer == INVALID_SOCKET ||
        connect(writer, reinterpret_cast<const sockaddr*>(&readAddress), sizeof readAddress) != 0) {
        closesocket(reader);
        closesocket(writer);
        return;
    }
    wakeRead_ = static_cast<SocketHandle>(reader);
    wakeWrite_ = static_cast<SocketHandle>(writer);
}

WakeablePoll::~WakeablePoll() {
    if (Valid()) {
        closesocket(static_cast<SOCKET>(wakeRead_));
        closesocket(static_cast<SOCKET>(wakeWrite_));
    }
}

WakeablePoll::Result WakeablePoll::WaitReadable(SocketHandle socket, int timeoutMs) {
    WSAPOLLFD fds[2] = {{static_cast<SOCKET>(socket), POLLRDNORM, 0},
                        {static_cast<SOCKET>(wakeRead_), POLLRDNORM, 0}};
    const ULONG count = Valid() ? 2 : 1;
    const int ready = WSAPoll(fds, count, timeoutMs < 0 ? -1 : timeoutMs);
    if (ready < 0) {
        return Result::Failed;
    }
    if (count == 2 && fds[1].revents != 0) {
        return Result::Woken;
    }
    // Hang-up and errors count as readable: the read that follows tells which.
    return ready == 0 ? Result::TimedOut : Result::Readable;
}

void WakeablePoll::Wake() {
    if (Valid()) {
        // The datagram stays queued, so the socket stays readable for every later wait.
        const char byte = 1;
        send(static_cast<SOCKET>(wakeWrite_), &byte, 1, 0);
    }
}

}  // namespace orv
