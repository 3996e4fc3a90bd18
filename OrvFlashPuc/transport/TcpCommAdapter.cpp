#include "transport/TcpCommAdapter.h"

#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace orv {

namespace {

void PutU32Le(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetU32Le(const uint8_t* at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | at[i];
    return value;
}

}  // namespace

CTcpCommAdapter::Connection CTcpCommAdapter::Connect(const uint8_t address[4], int port) {
    if (CTcpSocket::Initialize() != 0)
        return Connection::NoSockets;
    socket_.SetParam(address, port, nullptr);
    return socket_.Connect() == CTcpSocket::kOk ? Connection::Ready : Connection::Unreachable;
}

int CTcpCommAdapter::Open(uint8_t nodeId) {
    uint8_t request[kOpenRequestBytes] = {};
    PutU32Le(request, kOpenRequestBytes);
    PutU32Le(request + 4, CCB_CMD_OPEN);
    request[9] = 0x01;
    request[10] = 0x01;
    request[11] = nodeId;
    return ShortExchange(request, sizeof request, CCB_CMD_OPEN);
}

int CTcpCommAdapter::Reset() {
    uint8_t request[kResetRequestBytes] = {};
    PutU32Le(request, kResetRequestBytes);
    PutU32Le(request + 4, CCB_CMD_RESET);
    return ShortExchange(request, sizeof request, CCB_CMD_RESET);
}

int CTcpCommAdapter::ShortExchange(const uint8_t* request, uint32_t requestBytes,
                                   uint32_t command) {
    uint8_t reply[kShortReplySize] = {};
    int replyLength = sizeof reply;
    if (socket_.SendReceive(requestBytes, request, &replyLength, reply, kShortExchangeTimeoutMs,
                            nullptr) != 0 ||
        replyLength < kShortReplySize || GetU32Le(reply + 4) != command) {
        return 0;
    }
    return static_cast<int>(GetU32Le(reply + 8));
}

int CTcpCommAdapter::Transact(const CCcbMessage* request, CCcbMessage* reply, int replyCapacity,
                              uint32_t timeoutMs) {
    if (request->length > sizeof(CCcbMessage))
        return 1;
    return Exchange(request, request->length, reply, replyCapacity, timeoutMs);
}

int CTcpCommAdapter::SendRaw(const void* request, int requestLength, void* reply, int replyCapacity,
                             uint32_t timeoutMs) {
    if (requestLength < 0)
        return 1;
    return Exchange(request, static_cast<uint32_t>(requestLength), reply, replyCapacity, timeoutMs);
}

int CTcpCommAdapter::Exchange(const void* request, uint32_t requestBytes, void* reply,
                              int replyCapacity, uint32_t timeoutMs) {
    // The received byte count lands in this copy and goes no further.
    int received = replyCapacity;
    return socket_.SendReceive(requestBytes, request, &received, reply, timeoutMs, nullptr) != 0
               ? 1
               : 0;
}

}  // namespace orv
