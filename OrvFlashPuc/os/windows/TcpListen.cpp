#include "os/TcpListen.h"

#include <winsock2.h>
// After winsock2.h, which declares what it uses.
#include <ws2tcpip.h>

#include "os/windows/Winsock.h"

namespace orv {
namespace {

bool Ipv4Address(const std::string& address, sockaddr_in& into) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (getaddrinfo(address.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return false;
    }
    into = *reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    freeaddrinfo(found);
    return true;
}

std::string PeerName(const sockaddr_in& remote) {
    const unsigned long host = ntohl(remote.sin_addr.s_addr);
    return std::to_string(host >> 24) + "." + std::to_string((host >> 16) & 0xFF) + "." +
           std::to_string((host >> 8) & 0xFF) + "." + std::to_string(host & 0xFF) + ":" +
           std::to_string(ntohs(remote.sin_port));
}

void SetBlocking(SOCKET s, bool blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
}

}  // namespace

SocketHandle ListenTcp(const std::string& address, uint16_t& port, std::string& reason) {
    if (!StartSockets()) {
        reason = "Winsock cannot be started";
        return kNoSocket;
    }
    sockaddr_in local{};
    if (!Ipv4Address(address, local)) {
        reason = "not an IPv4 address";
        return kNoSocket;
    }
    local.sin_port = htons(port);
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    int length = sizeof local;
    if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        listen(s, SOMAXCONN) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        reason = SocketErrorText(WSAGetLastError());
        closesocket(s);
        return kNoSocket;
    }
    SetBlocking(s, false);
    port = ntohs(local.sin_port);
    return static_cast<SocketHandle>(s);
}

SocketHandle AcceptTcp(SocketHandle listener, std::string& peer, bool& again, std::string& reason) {
    sockaddr_in remote{};
    int length = sizeof remote;
    const SOCKET s =
        accept(static_cast<SOCKET>(listener), reinterpret_cast<sockaddr*>(&remote), &length);
    if (s == INVALID_SOCKET) {
        const int error = WSAGetLastError();
        again = error == WSAEWOULDBLOCK || error == WSAECONNRESET || error == WSAEINTR;
        reason = SocketErrorText(error);
        return kNoSocket;
    }
    // A connection takes the listener's mode here.
    SetBlocking(s, true);
    const BOOL on = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    peer = PeerName(remote);
    return static_cast<SocketHandle>(s);
}

void ShutdownSocket(SocketHandle socket) {
    shutdown(static_cast<SOCKET>(socket), SD_BOTH);
}

}  // namespace orv
