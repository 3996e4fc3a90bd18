#include "os/TcpConnect.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include "os/windows/Winsock.h"

namespace orv {
namespace {

std::string Endpoint(const std::string& host, uint16_t port) {
    return host + ":" + std::to_string(port);
}

// 0 once the non-blocking connect has finished well, else the Winsock error that ended it
// (WSAETIMEDOUT when the time ran out).
int FinishConnect(SOCKET s, int status, int timeoutMs) {
    if (status == 0 || WSAGetLastError() != WSAEWOULDBLOCK) {
        return status == 0 ? 0 : WSAGetLastError();
    }
    WSAPOLLFD writable{s, POLLWRNORM, 0};
    const int ready = WSAPoll(&writable, 1, timeoutMs);
    if (ready == 0) {
        return WSAETIMEDOUT;
    }
    int error = 0;
    int size = sizeof error;
    if (ready < 0 ||
        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0) {
        return WSAGetLastError();
    }
    return error;
}

}  // namespace

SocketHandle ConnectTcp(const std::string& host, uint16_t port, int timeoutMs, std::string& error) {
    if (!StartSockets()) {
        error = "Winsock cannot be started";
        return kNoSocket;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int resolved = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (resolved != 0 || found == nullptr) {
        error = "cannot resolve " + host + ": " + SocketErrorText(resolved);
        return kNoSocket;
    }
    const SOCKET s = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    if (s == INVALID_SOCKET) {
        error = "cannot open a socket: " + SocketErrorText(WSAGetLastError());
        freeaddrinfo(found);
        return kNoSocket;
    }
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    const int failure = FinishConnect(
        s, connect(s, found->ai_addr, static_cast<int>(found->ai_addrlen)), timeoutMs);
    freeaddrinfo(found);
    if (failure != 0) {
        error = failure == WSAETIMEDOUT
                    ? "no answer from " + Endpoint(host, port) + " within " +
                          std::to_string(timeoutMs) + " ms"
                    : "cannot connect to " + Endpoint(host, port) + ": " + SocketErrorText(failure);
        closesocket(s);
        return kNoSocket;
    }
    nonBlocking = 0;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    const DWORD sendLimit = static_cast<DWORD>(timeoutMs);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendLimit),
               sizeof sendLimit);
    const BOOL noDelay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
               sizeof noDelay);
    return static_cast<SocketHandle>(s);
}

bool SetReceiveLimit(SocketHandle socket, uint64_t limitMs) {
    // 0 would mean no limit here: the shortest real limit is 1 ms.
    const DWORD limit = limitMs == 0 ? 1 : static_cast<DWORD>(limitMs);
    return setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_RCVTIMEO,
                      reinterpret_cast<const char*>(&limit), sizeof limit) == 0;
}

long ReceiveBlocking(SocketHandle socket, void* into, size_t capacity) {
    const int got =
        recv(static_cast<SOCKET>(socket), static_cast<char*>(into), static_cast<int>(capacity), 0);
    if (got >= 0) {
        return got;
    }
    return WSAGetLastError() == WSAETIMEDOUT ? kNothingYet : kEnded;
}

}  // namespace orv
