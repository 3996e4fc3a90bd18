#include "sim/GatewayServer.h"

#include <cstring>
#include <memory>
#include <vector>

#include "sim/BusPort.h"
#include "sim/SimLog.h"
#include "transport/CcbMessage.h"
#include "transport/E2CCommAdapter.h"
#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace orv::sim {
namespace {

constexpr uint32_t kSmallestRequest = 8;
constexpr uint32_t kCommandTimeoutMs = 20000;
// Far more than any command's answers; a flood from elsewhere on the bus stops here.
constexpr size_t kFramesPerCommand = 4096;

uint32_t U32At(const uint8_t* bytes) {
    uint32_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

std::vector<uint8_t> ShortReply(uint32_t command, uint32_t status) {
    const uint32_t words[3] = {kShortReplySize, command, status};
    const auto* bytes = reinterpret_cast<const uint8_t*>(words);
    return std::vector<uint8_t>(bytes, bytes + sizeof words);
}

}  // namespace

GatewayServer::GatewayServer(VirtualBus& bus, int board, const std::string& bindAddress,
                             uint16_t port, uint32_t closeAfter)
    : bus_(bus),
      board_(board),
      name_("gateway " + std::to_string(board)),
      closeAfter_(closeAfter),
      server_(name_, bindAddress, port, kMaxConnections,
              [this](int fd, const std::string& peer) { Serve(fd, peer); }) {}

void GatewayServer::Serve(int fd, const std::string& peer) {
    const std::string who = name_ + " " + peer;
    auto ownedPort = std::make_unique<BusPort>(bus_, who);
    // The adapter queues every frame it hears without bound and empties the queue only when it
    // polls: let it hear the bus only while it carries out a command, and not without end.
    BusPort& port = *ownedPort;
    port.LimitReceive(0);
    CE2CCommAdapter adapter(std::move(ownedPort));
    CCcbMessage request;
    CCcbMessage reply;
    auto* bytes = reinterpret_cast<uint8_t*>(&request);
    for (uint32_t served = 0; closeAfter_ == 0 || served < closeAfter_; ++served) {
        uint32_t length = 0;
        if (!ReadExactly(fd, &length, sizeof length, -1)) {
            return;
        }
        if (length < kSmallestRequest || length > sizeof request) {
            SimLog("%s: a request of %u bytes is refused; connection closed", who.c_str(), length);
            return;
        }
        request.Clear();
        request.length = length;
        if (!ReadExactly(fd, bytes + sizeof length, length - sizeof length,
                         kRequestBodyTimeoutMs)) {
            SimLog("%s: request cut off; connection closed", who.c_str());
            return;
        }
        std::vector<uint8_t> answer;
        port.LimitReceive(kFramesPerCommand);
        switch (request.command) {
            case CCB_CMD_OPEN:
            case CCB_CMD_RESET:
                answer = ShortReply(request.command, 0);
                break;
            case CCB_CMD_SEND_FRAME:
                answer = ShortReply(CCB_CMD_SEND_FRAME, CCB_STATUS_NOT_EXECUTED);
                adapter.SendRaw(&request, static_cast<int>(length), answer.data(),
                                static_cast<int>(answer.size()), kCommandTimeoutMs);
                break;
            default:
                if (length < CCcbMessage::kHeaderSize ||
                    request.dataLength != length - CCcbMessage::kHeaderSize) {
                    SimLog("%s: command %u with %u bytes but %u data bytes; connection closed",
                           who.c_str(), request.command, length, request.dataLength);
                    return;
                }
                adapter.Transact(&request, &reply, sizeof reply, kCommandTimeoutMs);
                answer.assign(reinterpret_cast<const uint8_t*>(&reply),
                              reinterpret_cast<const uint8_t*>(&reply) + reply.length);
                break;
        }
        port.LimitReceive(0);
        SimLog("%s: command %u -> status %u", who.c_str(), request.command,
               U32At(answer.data() + 8));
        if (!WriteAll(fd, answer.data(), answer.size())) {
            return;
        }
    }
    SimLog("%s: closing after %u requests, as the scenario asks", who.c_str(), closeAfter_);
}

}  // namespace orv::sim
