#include "OrvCanSim/gateway/GatewayRequest.h"

#include "OrvCanSim/bus/SimLog.h"
#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace orv::sim {
namespace {

constexpr uint32_t kSmallestRequest = 8;
constexpr uint32_t kCommandTimeoutMs = 20000;

std::vector<uint8_t> ShortReply(uint32_t command, uint32_t status) {
    const uint32_t words[3] = {kShortReplySize, command, status};
    const auto* bytes = reinterpret_cast<const uint8_t*>(words);
    return std::vector<uint8_t>(bytes, bytes + sizeof words);
}

}  // namespace

bool IsAcceptedRequestLength(uint32_t length) {
    return length >= kSmallestRequest && length <= sizeof(CCcbMessage);
}

// Gateway messages carry their data length, which must agree with the byte count.
bool IsWellFormed(const CCcbMessage& request, const std::string& who) {
    switch (request.command) {
        case CCB_CMD_OPEN:
        case CCB_CMD_RESET:
        case CCB_CMD_SEND_FRAME:
            return true;
        default:
            if (request.length >= CCcbMessage::kHeaderSize &&
                request.dataLength == request.length - CCcbMessage::kHeaderSize) {
                return true;
            }
            SimLog("%s: command %u with %u bytes but %u data bytes; connection closed", who.c_str(),
                   request.command, request.length, request.dataLength);
            return false;
    }
}

std::vector<uint8_t> CarryOut(CE2CCommAdapter& adapter, CCcbMessage& request) {
    switch (request.command) {
        case CCB_CMD_OPEN:
        case CCB_CMD_RESET:
            return ShortReply(request.command, 0);
        case CCB_CMD_SEND_FRAME: {
            std::vector<uint8_t> answer = ShortReply(CCB_CMD_SEND_FRAME, CCB_STATUS_NOT_EXECUTED);
            adapter.SendRaw(&request, static_cast<int>(request.length), answer.data(),
                            static_cast<int>(answer.size()), kCommandTimeoutMs);
            return answer;
        }
        default: {
            CCcbMessage reply;
            adapter.Transact(&request, &reply, sizeof reply, kCommandTimeoutMs);
            const auto* bytes = reinterpret_cast<const uint8_t*>(&reply);
            return std::vector<uint8_t>(bytes, bytes + reply.length);
        }
    }
}

}  // namespace orv::sim
