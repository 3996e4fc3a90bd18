#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orv::test {

// The gateway end of one loopback TCP connection, driven from the test's own thread: replies
// can be written before the request they answer, since the kernel holds them until read.
class TcpSocketPeer {
  public:
    explicit TcpSocketPeer(int backlog = 4);
    ~TcpSocketPeer();
    TcpSocketPeer(const TcpSocketPeer&) = delete;
    TcpSocketPeer& operator=(const TcpSocketPeer&) = delete;

    int Port() const { return port_; }
    // Takes the next pending connection; false when none comes within a second.
    bool Accept();
    void Write(const std::vector<uint8_t>& bytes);
    // What the client sent, up to count bytes, waiting at most timeoutMs for them.
    std::vector<uint8_t> Read(size_t count, int timeoutMs = 1000);
    // True when the client has closed its end (after any unread bytes).
    bool ClientClosed(int timeoutMs = 1000);
    void CloseConnection();

  private:
    int listener_ = -1;
    int connection_ = -1;
    int port_ = 0;
};

// A gateway reply: u32 LE byte count, then the given words (LE) and bytes.
std::vector<uint8_t> GatewayReply(const std::vector<uint32_t>& words,
                                  const std::vector<uint8_t>& data = {});

}  // namespace orv::test
