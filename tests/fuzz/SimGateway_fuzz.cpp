// A client's byte stream on the simulator's gateway port, cut into requests as the gateway frames
// them and ending where it would close the connection. Each request is carried out by the
// adapter the gateway uses, over a bus that answers its frames with further bytes of the input.
#include <cstring>

#include "FuzzSupport.h"
#include "OrvCanSim/gateway/GatewayRequest.h"
#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

using orv::CCB_CMD_SEND_FRAME;
using orv::CCB_STATUS_NOT_EXECUTED;
using orv::CCB_STATUS_OK;
using orv::CCcbMessage;

namespace {

// False where the gateway would close the connection instead of carrying a request out.
bool NextRequest(orv::fuzz::FuzzInput& input, CCcbMessage& request) {
    const uint32_t length = input.Remaining() < sizeof(uint32_t) ? 0 : input.U32();
    if (!orv::sim::IsAcceptedRequestLength(length))
        return false;
    request.Clear();
    request.length = length;
    const std::string rest = input.Bytes(length - sizeof length);
    std::memcpy(reinterpret_cast<uint8_t*>(&request) + sizeof length, rest.data(), rest.size());
    return rest.size() == length - sizeof length && orv::sim::IsWellFormed(request, "fuzz");
}

}  // namespace

// The gateway writes the answer as it stands and logs its status word: the answer holds the
// short reply at least, says its own byte count and command, agrees with its data length where
// it carries data, and a frame sent is either done or not executed.
void orv::fuzz::FuzzOne(FuzzInput& input) {
    const auto adapter = AdapterOnFuzzBus(input);
    const auto request = std::make_unique<CCcbMessage>();
    while (NextRequest(input, *request)) {
        HoldReplyTimeoutAtZero(*request);
        const uint32_t command = request->command;
        const std::vector<uint8_t> answer = sim::CarryOut(*adapter, *request);
        uint32_t word[4] = {};
        std::memcpy(word, answer.data(), std::min(answer.size(), sizeof word));
        const size_t size = answer.size();
        Require(size >= kShortReplySize && size <= sizeof(CCcbMessage) && word[0] == size &&
                word[1] == command);
        Require(size < CCcbMessage::kHeaderSize || word[3] == size - CCcbMessage::kHeaderSize);
        Require(command != CCB_CMD_SEND_FRAME || word[2] == CCB_STATUS_OK ||
                word[2] == CCB_STATUS_NOT_EXECUTED);
    }
}
