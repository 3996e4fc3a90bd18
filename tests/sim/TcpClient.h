#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "transport/CcbMessage.h"

// The tests' own client of the simulator's front ends, on 127.0.0.1.
namespace orv::sim::test {

class TcpClient {
  public:
    // Throws std::runtime_error when the port does not accept.
    explicit TcpClient(int port);
    ~TcpClient();
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;

    bool Send(const void* bytes, size_t count);
    bool Send(const std::string& text) { return Send(text.data(), text.size()); }
    bool Read(void* bytes, size_t count, int timeoutMs);
    // The next "<...>" message of a socketcand stream (with whatever came before it); empty
    // when none is complete within timeoutMs.
    std::string ReadMessage(int timeoutMs);
    // What arrives until timeoutMs pass without anything more.
    std::string ReadAll(int timeoutMs);
    // True when the peer closes the connection within timeoutMs (whatever it sends first).
    bool ClosedByPeer(int timeoutMs);

  private:
    int fd_;
};

CCcbMessage GatewayRequest(uint32_t command, const std::vector<uint8_t>& payload = {});
// Sends the request as it stands and reads the reply by its leading byte count.
bool GatewayExchange(TcpClient& client, const CCcbMessage& request, CCcbMessage& reply);
// The 17-byte download parameters for node; replies within 500 ms, identifiers 0x180/0x200.
std::vector<uint8_t> BootInitPayload(uint8_t node, uint8_t page = 0, uint16_t start = 0,
                                     uint16_t length = 0, uint16_t checksum = 0);

}  // namespace orv::sim::test
