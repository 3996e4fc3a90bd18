// A client's byte stream on the simulator's gateway port, cut into requests as the gateway frames
// them and ending where it would close the connection. Each request is carried out by the
// adapter the gateway uses, over a bus that answers its frames with further bytes of the input.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "FuzzSupport.h"
#include "sim/GatewayRequest.h"
#include "sim/SimLog.h"
#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace {

using orv::fuzz::FuzzInput;

uint32_t WordAt(const std::vector<uint8_t>& answer, size_t index) {
    uint32_t word;
    std::memcpy(&word, answer.data() + 4 * index, sizeof word);
    return word;
}

// False where the gateway would close the connection instead of carrying a request out.
bool NextRequest(FuzzInput& input, CCcbMessage& request) {
    if (input.Remaining() < sizeof request.length) {
        return false;
    }
    const uint32_t length = input.U32();
    if (!orv::sim::IsAcceptedRequestLength(length)) {
        return false;
    }
    request.Clear();
    request.length = length;
    const std::string rest = input.Bytes(length - sizeof length);
    if (rest.size() != length - sizeof length) {
        return false;
    }
    std::memcpy(reinterpret_cast<uint8_t*>(&request) + sizeof length, rest.data(), rest.size());
    return orv::sim::IsWellFormed(request, "fuzz");
}

// The gateway writes the answer as it stands and logs its status word: the answer must hold
// the short reply at least, say its own byte count and command, and, where it carries data,
// agree with its data length.
void CheckAnswer(uint32_t command, const std::vector<uint8_t>& answer) {
    const size_t size = answer.size();
    if (size < kShortReplySize || size > sizeof(CCcbMessage) || WordAt(answer, 0) != size ||
        WordAt(answer, 1) != command) {
        std::abort();
    }
    if (size >= CCcbMessage::kHeaderSize && WordAt(answer, 3) != size - CCcbMessage::kHeaderSize) {
        std::abort();
    }
    const uint32_t status = WordAt(answer, 2);
    if (command == CCB_CMD_SEND_FRAME && status != CCB_STATUS_OK &&
        status != CCB_STATUS_NOT_EXECUTED) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orv::fuzz::InstallFuzzClock();
    static const bool quiet = (orv::sim::SetSimLogSink([](const std::string&) {}), true);
    (void)quiet;
    FuzzInput input(data, size);
    auto ownedEngine = std::make_unique<orv::fuzz::FuzzEngine>(input);
    orv::fuzz::FuzzEngine& engine = *ownedEngine;
    CE2CCommAdapter adapter(std::move(ownedEngine));
    engine.adapter = &adapter;
    const auto request = std::make_unique<CCcbMessage>();
    while (NextRequest(input, *request)) {
        orv::fuzz::HoldReplyTimeoutAtZero(*request);
        const uint32_t command = request->command;
        CheckAnswer(command, orv::sim::CarryOut(adapter, *request));
    }
    return 0;
}
