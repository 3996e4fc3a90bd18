#include "OrvCanSim/gateway/BootSession.h"

#include <algorithm>

#include "OrvCanSim/bus/BootLoaderCodes.h"
#include "OrvCanSim/gateway/GatewayMessage.h"

namespace orv::sim {
namespace {

constexpr uint8_t kEveryNode = 0;
// A poll gives the node this much longer to answer than any other request.
constexpr uint64_t kPollExtraMs = 10000;

// Commands carried out by one frame of fixed bytes; those that await the node's answer reply
// with it.
struct FixedFrameCommand {
    uint32_t code;
    NodeFrame frame;
    bool awaitsAnswer;
};
constexpr FixedFrameCommand kFixedFrameCommands[] = {
    {CCB_CMD_ABORT, {kFrameAbort}, false},
    {CCB_CMD_WRITE_ENABLE, {kFrameWriteEnable, kWriteEnableKey}, false},
    {CCB_CMD_JUMP_TO_APP, {kFrameJumpToApp}, false},
    {CCB_CMD_GET_INFO, {kFrameGetInfo}, true},
    {CCB_CMD_VALIDATE, {kFrameValidate}, false},
    {CCB_CMD_INIT_EXT_INFO, {kFrameInitExtInfo}, false},
};

// The node parameters take 17 bytes, a sub-block's descriptor 11; a read request names its
// address in bytes 1..7 of 8. A shorter payload is not carried out.
size_t RequiredPayload(uint32_t command) {
    switch (command) {
        case CCB_CMD_BOOT_INIT:
        case CCB_CMD_CONFIGURE:
            return 17;
        case CCB_CMD_WRITE_SUBBLOCK:
            return 11;
        case CCB_CMD_READ_CODE:
            return 8;
        case CCB_CMD_SEND_DATA:
            return 1;
        default:
            return 0;
    }
}

}  // namespace

CommandOutcome BootSession::CarryOut(uint32_t command, const Payload& p) {
    CommandOutcome outcome{.status = CCB_STATUS_OK};
    std::copy_n(p.begin(), std::min(p.size(), dataArea_.size()), dataArea_.begin());
    if (p.size() < RequiredPayload(command)) {
        return {.status = kNotCarriedOut};
    }
    switch (command) {
        case CCB_CMD_BOOT_INIT:
            BootInit(p, outcome);
            break;
        case CCB_CMD_WRITE_SUBBLOCK:
            WriteSubblock(p, outcome);
            break;
        case CCB_CMD_PROGRAM_SUBBLOCK:
            ProgramSubblock(outcome);
            break;
        case CCB_CMD_READ_CODE:
            Send({kFrameReadCode, p[1], p[2], p[3], p[4], p[5], p[6], p[7]});
            AwaitAnswer(outcome);
            break;
        case CCB_CMD_GET_STATUS:
            Poll(outcome);
            break;
        case CCB_CMD_FINALIZE:
            EndDownload();
            break;
        case CCB_CMD_SELECT_VARIANT_1:
            SelectVariant(1);
            break;
        case CCB_CMD_SELECT_VARIANT_2:
            SelectVariant(2);
            break;
        case CCB_CMD_SEND_DATA:
            Send(dataArea_);
            break;
        case CCB_CMD_CONFIGURE:
            StoreParameters(p);
            break;
        default:
            if (!SendFixedFrame(command, outcome)) {
                outcome.status = kNotCarriedOut;
            }
    }
    return outcome;
}

bool BootSession::SendFixedFrame(uint32_t command, CommandOutcome& outcome) {
    const auto* entry =
        std::find_if(std::begin(kFixedFrameCommands), std::end(kFixedFrameCommands),
                     [command](const auto& fixed) { return fixed.code == command; });
    if (entry == std::end(kFixedFrameCommands)) {
        return false;
    }
    Send(entry->frame);
    if (entry->awaitsAnswer) {
        AwaitAnswer(outcome);
    }
    return true;
}

bool BootSession::Send(const NodeFrame& frame) {
    return SendNodeFrame(link_, RequestId(), frame);
}

bool BootSession::Send(std::initializer_list<uint8_t> bytes) {
    NodeFrame frame{};
    std::copy(bytes.begin(), bytes.end(), frame.begin());
    return Send(frame);
}

void BootSession::AwaitAnswer(CommandOutcome& outcome) {
    outcome.answer = AwaitFrame(link_, ReplyId(), replyTimeoutMs_);
    outcome.status = outcome.answer ? CCB_STATUS_OK : CCB_STATUS_NO_REPLY;
}

// What the node said before stays the answer when it does not answer this poll. Whatever it sent
// before the poll is no answer to it.
bool BootSession::Poll(CommandOutcome& outcome) {
    DropReceived(link_);
    Send({kFramePoll});
    const std::optional<NodeFrame> answer =
        AwaitFrame(link_, ReplyId(), replyTimeoutMs_ + kPollExtraMs);
    outcome.status = answer ? CCB_STATUS_OK : CCB_STATUS_NO_REPLY;
    if (answer) {
        outcome.answer = answer;
    }
    return answer.has_value();
}

void BootSession::StoreParameters(const Payload& p) {
    nodeId_ = p[1];
    replyTimeoutMs_ = U32At(p, 9);
    replyBase_ = U16At(p, 13);
    requestBase_ = U16At(p, 15);
}

void BootSession::EndDownload() {
    SendNmt(link_, kNmtStart, kEveryNode);
    replyBase_ = 0;
    requestBase_ = 0;
    variant_ = 0;
}

void BootSession::SelectVariant(uint32_t variant) {
    SendNmt(link_, kNmtEnterPreOperational, kEveryNode);
    variant_ = variant;
}

}  // namespace orv::sim
