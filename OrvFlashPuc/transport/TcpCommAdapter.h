#pragma once

#include <cstdint>

#include "transport/CommAdapter.h"
#include "transport/TcpSocket.h"

namespace orv {

// The transport for a CAN gateway board reached over TCP/IP: the board carries the gateway
// commands out itself, so every operation is one exchange on the adapter's own connection.
class CTcpCommAdapter : public CCommAdapter {
  public:
    static constexpr uint32_t kOpenRequestBytes = 267;
    static constexpr uint32_t kResetRequestBytes = 8;
    static constexpr uint32_t kShortExchangeTimeoutMs = 10000;

    enum class Connection { Ready, NoSockets, Unreachable };

    // Connects to the gateway at address (four octets, first octet first) and port; the
    // adapter is usable once this says Ready.
    Connection Connect(const uint8_t address[4], int port);

    // Open and Reset report success when the exchange itself failed or was answered out of
    // turn: a dead connection shows at the next Transact. A result the gateway sends back is
    // passed through.
    int Open(uint8_t nodeId) override;
    int SendRaw(const void* request, int requestLength, void* reply, int replyCapacity,
                uint32_t timeoutMs) override;
    int Transact(const CCcbMessage* request, CCcbMessage* reply, int replyCapacity,
                 uint32_t timeoutMs) override;
    int Reset() override;

  private:
    int Exchange(const void* request, uint32_t requestBytes, void* reply, int replyCapacity,
                 uint32_t timeoutMs);
    int ShortExchange(const uint8_t* request, uint32_t requestBytes, uint32_t command);

    CTcpSocket socket_;
};

}  // namespace orv
