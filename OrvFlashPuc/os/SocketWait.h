#pragma once

#include "os/Socket.h"

// Waiting on one connected socket, with a time limit and nobody to wake the wait early (for
// that, WakeablePoll).
namespace orv {

enum class SocketWait { Readable, TimedOut, Failed };

// Hang-up and errors count as readable: the read that follows tells which.
SocketWait WaitReadable(SocketHandle socket, int timeoutMs);

// After WaitReadable: true when bytes wait to be read, which stay there; false when the peer
// closed the connection or it failed.
bool BytesWaiting(SocketHandle socket);

}  // namespace orv
