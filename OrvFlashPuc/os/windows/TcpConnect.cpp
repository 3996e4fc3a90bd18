#include "os/TcpConnect.h"

#include <winsock2.h>
// After winsock2.h, which declares what these use.
#include <mstcpip.h>
#include <ws2tcpip.h>

#include "os/windows/Winsock.h"

namespace orv {
namespace {

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

// A connected socket to one address, or INVALID_SOCKET with the Winsock error in error.
SOCKET ConnectOne(const addrinfo& address, int timeoutMs, int& error) {
    const SOCKET s = socket(address.ai_family, address.ai_socktype, address.ai_protocol);
    if (s == INVALID_SOCKET) {
        error = WSAGetLastError();
        return INVALID_SOCKET;
    }
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    error = FinishConnect(s, connect(s, address.ai_addr, static_cast<int>(address.ai_addrlen)),
                          timeoutMs);
    if (error != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    nonBlocking = 0;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    return s;
}

void Configure(SOCKET s, int timeoutMs) {
    const DWORD sendLimit = static_cast<DWORD>(timeoutMs);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendLimit),
               sizeof sendLimit);
    const BOOL on = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    // Probes after 5 s of silence, one a second: Windows gives up after ten unanswered ones.
    tcp_keepalive keepAlive{1, 5000, 1000};
    DWORD returned = 0;
    WSAIoctl(s, SIO_KEEPALIVE_VALS, &keepAlive, sizeof keepAlive, nullptr, 0, &returned, nullptr,
             nullptr);
}

}  // namespace

SocketHandle ConnectTcp(const std::string& host, uint16_t port, int timeoutMs,
                        std::string& reason) {
    if (!StartSockets()) {
        reason = "Winsock cannot be started";
        return kNoSocket;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int resolved = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (resolved != 0 || found == nullptr) {
        reason = SocketErrorText(resolved);
        return kNoSocket;
    }
    SOCKET s = INVALID_SOCKET;
    int error = 0;
    for (const addrinfo* a = found; a != nullptr && s == INVALID_SOCKET; a = a->ai_next)
        s = ConnectOne(*a, timeoutMs, error);
    freeaddrinfo(found);
    if (s == INVALID_SOCKET) {
        reason = error == WSAETIMEDOUT ? "no answer within " + std::to_string(timeoutMs) + " ms"
                                       : SocketErrorText(error);
        return kNoSocket;
    }
    Configure(s, timeoutMs);
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
