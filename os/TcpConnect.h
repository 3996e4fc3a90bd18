#pragma once

#include <cstdint>
#include <string>

#include "os/Socket.h"

namespace orv {

// A connected TCP socket to host:port, or kNoSocket with error set to one line that says why
// (without a prefix naming the caller). The connection attempt is bounded by timeoutMs; the
// socket comes back blocking, sends bounded by timeoutMs, and never holding small writes back.
SocketHandle ConnectTcp(const std::string& host, uint16_t port, int timeoutMs, std::string& error);

// Bounds each following blocking ReceiveBlocking; false when the socket refused.
bool SetReceiveLimit(SocketHandle socket, uint64_t limitMs);
// Waits up to the receive limit for bytes: their count, kNothingYet when the limit passed,
// kEnded when the connection ended or failed.
long ReceiveBlocking(SocketHandle socket, void* into, size_t capacity);

}  // namespace orv
