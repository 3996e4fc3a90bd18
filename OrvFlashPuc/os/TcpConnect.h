#pragma once

#include <cstdint>
#include <string>

#include "os/Socket.h"

namespace orv {

// Connects to host:port, a name or a numeric address of either family. A name may stand for
// several addresses (localhost: ::1 and 127.0.0.1); each is tried in turn, for at most
// timeoutMs apiece. Returns the connected socket, or kNoSocket with the system's reason for
// the last failure in reason.
//
// The socket comes back blocking, with requests never held back, sends bounded by timeoutMs,
// and keep-alive probes that notice a vanished peer within kDeadPeerMs; a live peer's kernel
// answers them, so a slow one keeps its full time-outs.
SocketHandle ConnectTcp(const std::string& host, uint16_t port, int timeoutMs, std::string& reason);

constexpr int kDeadPeerMs = 15000;

// Bounds each following blocking ReceiveBlocking; false when the socket refused.
bool SetReceiveLimit(SocketHandle socket, uint64_t limitMs);
// Waits up to the receive limit for bytes: their count, kNothingYet when the limit passed,
// kEnded when the connection ended or failed.
long ReceiveBlocking(SocketHandle socket, void* into, size_t capacity);

}  // namespace orv
