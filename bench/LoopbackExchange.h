#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Blocking request/reply plumbing over loopback TCP for the benchmarks.
namespace orv::bench {

// A listening socket on 127.0.0.1 whose port is no multiple of 100 (the tool would read such
// a port as a gateway board's base). -1 on failure.
int ListenOnLoopback(int& port);
int ConnectToLoopback(int port);

bool SendAll(int fd, const uint8_t* bytes, size_t count);
bool ReceiveAll(int fd, uint8_t* bytes, size_t count);

// Gateway messages from a stream: each a little-endian u32 byte count, then the rest of those
// bytes. Reads as much as has arrived, so a whole message usually costs one receive.
class MessageStream {
  public:
    explicit MessageStream(int fd) : fd_(fd) {}
    // False at the end of the stream or on a count no gateway message has.
    bool Next(std::vector<uint8_t>& message);

  private:
    int fd_;
    std::vector<uint8_t> pending_;
};

// Exchanges per second of the plainest client process over loopback, seen from a server that
// answers each request of `bytes` bytes at once with as many bytes: the exchanges divided by
// the time from each reply sent to the next request received.
double PingPongRate(int exchanges, size_t bytes);

}  // namespace orv::bench
