#pragma once

#include "os/Socket.h"

// Waits for a socket to become readable, and lets another thread end every such wait at once
// and for good: a link's Close must unblock the thread that sits in Receive without closing
// the socket under its feet.
namespace orv {

class WakeablePoll {
  public:
    enum class Result { Readable, TimedOut, Woken, Failed };

    WakeablePoll();
    ~WakeablePoll();
    WakeablePoll(const WakeablePoll&) = delete;
    WakeablePoll& operator=(const WakeablePoll&) = delete;

    // False when the process had nothing left for the wake-up channel.
    bool Valid() const { return wakeRead_ != kNoSocket; }
    // timeoutMs < 0 waits without limit.
    Result WaitReadable(SocketHandle socket, int timeoutMs);
    // Every wait after this, and any in progress, returns Woken.
    void Wake();

  private:
    // A pipe; on Windows, where only sockets can be polled, a pair of loopback datagram sockets.
    SocketHandle wakeRead_ = kNoSocket;
    SocketHandle wakeWrite_ = kNoSocket;
};

}  // namespace orv
