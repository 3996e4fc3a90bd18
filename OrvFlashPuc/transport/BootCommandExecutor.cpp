#include "transport/BootCommandExecutor.h"

#include <algorithm>
#include <cstring>

#include "os/Clock.h"
#include "transport/BootLoaderFrames.h"
#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace orv {

namespace {

constexpr uint8_t kAllNodes = 0;
constexpr uint32_t kNoSubblock = 0xFFFFFFFF;
constexpr int kBusyPollsPerSubblock = 25;
constexpr int kProgramPolls = 50;

constexpr uint32_t kBootEntryVariant1Ms = 2000;
constexpr uint32_t kBootEntryVariant2Ms = 4000;
constexpr uint32_t kInitArgsSettleMs = 1000;
constexpr uint32_t kSubblockHeaderSettleMs = 300;
constexpr uint32_t kBusyRepollMs = 200;
constexpr uint32_t kProgramRepollMs = 100;
constexpr uint32_t kVariant2SegmentGapMs = 1;

bool Busy(const uint8_t (&answer)[8]) {
    return (answer[1] & kBusyBits) != 0;
}

}  // namespace

BootCommandExecutor::BootCommandExecutor(BootLoaderBus& bus, const ExecutionPolicy& policy)
    : bus_(bus), policy_(policy) {}

// Commands that only send a frame are done once it is out; the others set their own status.
void BootCommandExecutor::Execute(const CCcbMessage& request, CCcbMessage& reply) {
    reply.Clear();
    reply.command = request.command;
    reply.status = CCB_STATUS_OK;
    const uint8_t* p = request.data;
    Frame answer = {};
    switch (request.command) {
        case CCB_CMD_BOOT_INIT:
            return BootInit(p, reply);
        case CCB_CMD_WRITE_SUBBLOCK:
            return WriteSubblock(p, reply);
        case CCB_CMD_PROGRAM_SUBBLOCK:
            return ProgramSubblock(reply);
        case CCB_CMD_READ_CODE:
            Send({ToByte(BootFrame::ReadCode), p[1], p[2], p[3], p[4], p[5], p[6], p[7]});
            Await(replyTimeoutMs_, answer, reply);
            return;
        case CCB_CMD_GET_INFO:
            Send({ToByte(BootFrame::GetInfo)});
            Await(replyTimeoutMs_, answer, reply);
            return;
        case CCB_CMD_GET_STATUS:
            Poll(answer, reply);
            return;
        case CCB_CMD_FINALIZE:
            return ClearSession();
        case CCB_CMD_SELECT_VARIANT_1:
        case CCB_CMD_SELECT_VARIANT_2:
            return SelectVariant(request.command);
        case CCB_CMD_CONFIGURE:
            return StoreParameters(p);
        case CCB_CMD_SEND_DATA:
            // The frame is the first 8 bytes of the data area, whatever the payload's length.
            Send({p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7]});
            return;
    }
    if (!SendFixedFrame(request.command)) {
        reply.status = CCB_STATUS_NOT_EXECUTED;
    }
}

// The commands carried out by one frame of their own, without an answer.
bool BootCommandExecutor::SendFixedFrame(uint32_t command) {
    switch (command) {
        case CCB_CMD_ABORT:
            Send({ToByte(BootFrame::Abort)});
            return true;
        case CCB_CMD_WRITE_ENABLE:
            Send({ToByte(BootFrame::WriteEnable), kWriteEnableKey});
            return true;
        case CCB_CMD_JUMP_TO_APP:
            Pause(policy_.beforeJumpMs);
            Send({ToByte(BootFrame::JumpToApp)});
            return true;
        case CCB_CMD_VALIDATE:
            Send({ToByte(BootFrame::Validate)});
            return true;
        case CCB_CMD_INIT_EXT_INFO:
            Send({ToByte(BootFrame::InitExtInfo)});
            return true;
        default:
            return false;
    }
}

bool BootCommandExecutor::Send(const Frame& frame) {
    return bus_.SendToNode(static_cast<uint16_t>(nodeId_ | requestBase_), frame);
}

void BootCommandExecutor::Send(std::initializer_list<uint8_t> bytes) {
    Frame frame = {};
    std::copy(bytes.begin(), bytes.end(), frame);
    Send(frame);
}

bool BootCommandExecutor::Await(uint32_t timeoutMs, Frame& answer, CCcbMessage& reply) {
    if (!bus_.WaitReply(static_cast<uint16_t>(nodeId_ | replyBase_), timeoutMs, answer)) {
        reply.status = CCB_STATUS_NO_REPLY;
        return false;
    }
    reply.status = CCB_STATUS_OK;
    reply.SetData(answer, sizeof answer);
    return true;
}

// An unanswered poll leaves the answer, and the reply's data, as they were.
bool BootCommandExecutor::Poll(Frame& answer, CCcbMessage& reply) {
    bus_.ForgetPendingReplies();
    Send({ToByte(BootFrame::Poll)});
    Pause(policy_.pollAnswerDelayMs);
    return Await(replyTimeoutMs_ + policy_.pollWaitExtraMs, answer, reply);
}

void BootCommandExecutor::Pause(uint32_t ms) {
    if (ms != kNoPause) {
        SleepMs(ms);
    }
}

void BootCommandExecutor::StoreParameters(const uint8_t* payload) {
    BootInitParams params;
    std::memcpy(&params, payload, sizeof params);
    reserved_ = params.busId;
    nodeId_ = params.nodeId;
    replyTimeoutMs_ = params.replyTimeoutMs;
    replyBase_ = params.replyBase;
    requestBase_ = params.requestBase;
}

void BootCommandExecutor::ClearSession() {
    bus_.SendNmt(ToByte(NmtCommand::Start), kAllNodes);
    replyBase_ = 0;
    requestBase_ = 0;
    variant_ = 0;
}

void BootCommandExecutor::SelectVariant(uint32_t command) {
    bus_.SendNmt(ToByte(NmtCommand::EnterPreOperational), kAllNodes);
    variant_ = command == CCB_CMD_SELECT_VARIANT_1 ? 1 : 2;
}

void BootCommandExecutor::BootInit(const uint8_t* payload, CCcbMessage& reply) {
    if (variant_ == 1) {
        BootInitVariant1(payload);
    } else if (variant_ == 2) {
        BootInitVariant2(payload, reply);
    } else {
        variant_ = 0;
        reply.status = CCB_STATUS_NO_VARIANT;
    }
}

void BootCommandExecutor::BootInitVariant1(const uint8_t* p) {
    StoreParameters(p);
    bus_.SendNmt(ToByte(NmtCommand::EnterBootLoader), nodeId_);
    Pause(kBootEntryVariant1Ms);
    Send({ToByte(BootFrame::Abort)});
    // Whatever the node says after entering its boot loader is of no interest.
    bus_.DrainReplies(static_cast<uint16_t>(nodeId_ | replyBase_), replyTimeoutMs_);
    Send({ToByte(BootFrame::Init), p[2], p[3], p[4], p[5], p[6], p[7], p[8]});
}

void BootCommandExecutor::BootInitVariant2(const uint8_t* payload, CCcbMessage& reply) {
    StoreParameters(payload);
    bus_.SendNmt(ToByte(NmtCommand::EnterPreOperational), kAllNodes);
    bus_.SendNmt(ToByte(NmtCommand::EnterBootLoader), nodeId_);
    Pause(kBootEntryVariant2Ms);
    Send({ToByte(BootFrame::Abort)});
    Send({ToByte(BootFrame::Abort)});
    Frame answer = {};
    Poll(answer, reply);
    lastSubblockAddress_ = kNoSubblock;
    Frame init;
    PutHighByteFirstFrame(init, ToByte(BootFrame::Init), payload + 2);
    Send(init);
    Pause(kInitArgsSettleMs);
    Poll(answer, reply);
}

// The payload is the sub-block's descriptor followed by its data.
void BootCommandExecutor::WriteSubblock(const uint8_t* p, CCcbMessage& reply) {
    if (variant_ == 1) {
        Send({ToByte(BootFrame::SubblockHeader), p[0], p[1], p[2], p[3], p[4], p[5], p[6]});
        Frame answer = {};
        Poll(answer, reply);
        Pause(kSubblockHeaderSettleMs);
        SendSegments(p, policy_.variant1SegmentGapMs, true);
    } else if (variant_ == 2) {
        WriteSubblockVariant2(p, reply);
    } else {
        reply.status = CCB_STATUS_NO_VARIANT;
    }
}

void BootCommandExecutor::WriteSubblockVariant2(const uint8_t* payload, CCcbMessage& reply) {
    SubblockDescriptor descriptor;
    std::memcpy(&descriptor, payload, sizeof descriptor);
    if (descriptor.address == lastSubblockAddress_) {
        reply.status = CCB_STATUS_SAME_SUBBLOCK;
        return;
    }
    lastSubblockAddress_ = descriptor.address;
    Frame header;
    PutHighByteFirstFrame(header, ToByte(BootFrame::SubblockHeader), payload);
    Send(header);
    Frame answer = {};
    Poll(answer, reply);
    for (int polls = 0; polls < kBusyPollsPerSubblock && Busy(answer); ++polls) {
        Pause(kBusyRepollMs);
        Poll(answer, reply);
    }
    SendSegments(payload, kVariant2SegmentGapMs, false);
}

// Up to 7 data bytes per frame behind a header byte carrying the count and a toggle bit.
void BootCommandExecutor::SendSegments(const uint8_t* payload, uint32_t gapMs,
                                       bool stopOnFailedWrite) {
    SubblockDescriptor descriptor;
    std::memcpy(&descriptor, payload, sizeof descriptor);
    const uint8_t* data = payload + sizeof descriptor;
    // A length beyond the message cannot be sent; the data area ends there.
    const uint32_t count =
        std::min<uint32_t>(descriptor.length, CCcbMessage::kMaxData - sizeof descriptor);
    Frame frame = {};
    uint8_t toggle = 0;
    for (uint32_t offset = 0; offset < count;) {
        const uint32_t n = std::min(kSegmentDataBytes, count - offset);
        if (policy_.segmentTail == SegmentTail::kZeros) {
            std::memset(frame, 0, sizeof frame);
        }
        frame[0] = SegmentHeader(toggle, n);
        std::memcpy(frame + 1, data + offset, n);
        if (!Send(frame) && stopOnFailedWrite) {
            return;
        }
        Pause(gapMs);
        offset += n;
        toggle ^= kSegmentToggle;
    }
}

void BootCommandExecutor::ProgramSubblock(CCcbMessage& reply) {
    Send({ToByte(BootFrame::Program)});
    if (variant_ != 2) {
        return;
    }
    if (policy_.programWait == ProgramWait::kRepollMissesAtOnce) {
        AwaitProgramRepollingMisses(reply);
    } else {
        AwaitProgramKeepingLastAnswer(reply);
    }
}

void BootCommandExecutor::AwaitProgramRepollingMisses(CCcbMessage& reply) {
    Frame answer = {};
    bool missed = false;
    for (int polls = 0; polls < kProgramPolls; ++polls) {
        if (!Poll(answer, reply)) {
            missed = true;
            continue;
        }
        if (missed || !Busy(answer)) {
            return;
        }
        Pause(kProgramRepollMs);
    }
}

void BootCommandExecutor::AwaitProgramKeepingLastAnswer(CCcbMessage& reply) {
    Frame answer = {};
    Poll(answer, reply);
    for (int polls = 0; polls < kProgramPolls && Busy(answer); ++polls) {
        Pause(kProgramRepollMs);
        Poll(answer, reply);
    }
}

}  // namespace orv
