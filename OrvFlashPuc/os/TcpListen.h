#pragma once

#include <cstdint>
#include <string>

#include "os/Socket.h"

// The serving side of TCP, for the simulator's gateway and bridge.
namespace orv {

// Listens on a numeric IPv4 address; port 0 picks a free port, and port comes back as the one
// taken. Accepting never blocks: WakeablePoll tells when a connection waits. kNoSocket, with
// the system's reason, when it cannot listen.
SocketHandle ListenTcp(const std::string& address, uint16_t& port, std::string& reason);

// The connection waiting on listener, blocking and with replies never held back, and its peer
// as A.B.C.D:PORT. kNoSocket when none waits any more (it was given up on the way): again is
// then true, and false when the listener failed, with the system's reason.
SocketHandle AcceptTcp(SocketHandle listener, std::string& peer, bool& again, std::string& reason);

// Ends a connection both ways without closing the socket: a thread blocked reading or writing
// it returns, and the peer learns of the end at once.
void ShutdownSocket(SocketHandle socket);

}  // namespace orv
