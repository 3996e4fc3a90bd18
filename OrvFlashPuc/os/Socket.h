#pragma once

#include <cstddef>
#include <cstdint>

// The few socket calls the CAN links make, the same on every platform.
namespace orv {

// A socket: a file descriptor, or a Windows SOCKET; both fit.
using SocketHandle = std::intptr_t;
constexpr SocketHandle kNoSocket = -1;

// Starts the system's sockets for the process once (Winsock on Windows, nothing elsewhere);
// false when they cannot be used.
bool StartSockets();

void CloseSocket(SocketHandle socket);

// Sends every byte, each send bounded by the socket's send limit; false when the connection
// failed or stalled.
bool SendAll(SocketHandle socket, const void* bytes, size_t count);

// Reads what has arrived without waiting. kNothingYet: no bytes yet; kEnded: closed or failed.
constexpr long kNothingYet = -1;
constexpr long kEnded = 0;
long ReceiveAvailable(SocketHandle socket, void* into, size_t capacity);

}  // namespace orv
