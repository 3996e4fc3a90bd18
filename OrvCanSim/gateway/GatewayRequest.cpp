#include "OrvCanSim/gateway/GatewayRequest.h"

#include "OrvCanSim/bus/BootLoaderCodes.h"
#include "OrvCanSim/bus/SimLog.h"
#include "OrvCanSim/gateway/GatewayMessage.h"

namespace orv::sim {
namespace {

// A byte count and a command.
constexpr uint32_t kSmallestRequest = 8;
constexpr uint8_t kMaxFrameLength = 8;

bool HasOwnLayout(uint32_t command) {
    return command == CCB_CMD_OPEN || command == CCB_CMD_RESET || command == CCB_CMD_SEND_FRAME;
}

// The frame's identifier is the node OR the base identifier.
std::vector<uint8_t> SendFrame(CanLink& link, const std::vector<uint8_t>& request) {
    CanFrame frame{
        .id = static_cast<uint32_t>(ByteAt(request, kRawNodeAt) | U16At(request, kRawBaseIdAt)),
        .length = std::min(ByteAt(request, kRawLengthAt), kMaxFrameLength)};
    for (size_t i = 0; i < kMaxFrameLength; ++i) {
        frame.data[i] = ByteAt(request, kRawDataAt + i);
    }
    return ShortReply(CCB_CMD_SEND_FRAME, link.Send(frame) ? CCB_STATUS_OK : kNotCarriedOut);
}

}  // namespace

bool IsAcceptedRequestLength(uint32_t length) {
    return length >= kSmallestRequest && length <= kLargestMessage;
}

// A command message carries its data length, which must agree with the byte count.
bool IsWellFormed(const std::vector<uint8_t>& request, const std::string& who) {
    const auto length = static_cast<uint32_t>(request.size());
    const uint32_t command = U32At(request, kCommandAt);
    if (HasOwnLayout(command) ||
        (length >= kDataAt && U32At(request, kDataLengthAt) == length - kDataAt)) {
        return true;
    }
    SimLog("%s: command %u with %u bytes but %u data bytes; connection closed", who.c_str(),
           command, length, U32At(request, kDataLengthAt));
    return false;
}

std::vector<uint8_t> CarryOut(BootSession& session, CanLink& link,
                              const std::vector<uint8_t>& request) {
    const uint32_t command = U32At(request, kCommandAt);
    if (command == CCB_CMD_OPEN || command == CCB_CMD_RESET) {
        return ShortReply(command, 0);
    }
    if (command == CCB_CMD_SEND_FRAME) {
        return SendFrame(link, request);
    }
    const CommandOutcome outcome =
        session.CarryOut(command, std::vector<uint8_t>(request.begin() + kDataAt, request.end()));
    std::vector<uint8_t> data;
    if (outcome.answer) {
        data.assign(outcome.answer->begin(), outcome.answer->end());
    }
    return CommandReply(command, outcome.status, data);
}

}  // namespace orv::sim
