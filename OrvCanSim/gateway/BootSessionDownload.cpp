// The download commands: initialisation, one sub-block, programming it.
#include <algorithm>

#include "OrvCanSim/bus/BootLoaderCodes.h"
#include "OrvCanSim/gateway/BootSession.h"
#include "OrvCanSim/gateway/GatewayMessage.h"
#include "os/Clock.h"

namespace orv::sim {
namespace {

constexpr uint32_t kNoSubblock = 0xFFFFFFFF;
// The descriptor: page at 0, then address, length and checksum (u16 each) at 1, 3 and 5.
constexpr size_t kDescriptorBytes = 11;
constexpr size_t kAddressAt = 1;
constexpr size_t kLengthAt = 3;
// Of the boot parameters, the seven bytes handed to the node start here.
constexpr size_t kInitArgsAt = 2;

// How long each step gives the node.
constexpr uint32_t kEnterVariant1Ms = 2000;
constexpr uint32_t kEnterVariant2Ms = 4000;
constexpr uint32_t kAfterInitArgsMs = 1000;
constexpr uint32_t kAfterHeaderMs = 300;
constexpr uint32_t kBusyRepollMs = 200;
constexpr uint32_t kProgramRepollMs = 100;
constexpr uint32_t kAfterSegmentMs = 1;

constexpr int kBusyRepolls = 25;
constexpr int kProgramPolls = 50;
constexpr uint8_t kBusyBits = 0x03;

bool Busy(const CommandOutcome& outcome) {
    return outcome.answer && ((*outcome.answer)[1] & kBusyBits) != 0;
}

// Variant 2 sends a page byte, then three 16-bit values high byte first; from is where the page
// stands in the payload, the values following it low byte first.
NodeFrame HighByteFirst(uint8_t first, const std::vector<uint8_t>& p, size_t from) {
    return {first,       p[from],     p[from + 2], p[from + 1],
            p[from + 4], p[from + 3], p[from + 6], p[from + 5]};
}

}  // namespace

void BootSession::BootInit(const Payload& p, CommandOutcome& outcome) {
    if (variant_ == 1) {
        BootInitVariant1(p);
    } else if (variant_ == 2) {
        BootInitVariant2(p, outcome);
    } else {
        variant_ = 0;
        outcome.status = CCB_STATUS_NO_VARIANT;
    }
}

void BootSession::BootInitVariant1(const Payload& p) {
    StoreParameters(p);
    SendNmt(link_, kNmtEnterBootLoader, nodeId_);
    SleepMs(kEnterVariant1Ms);
    Send({kFrameAbort});
    // What the node says on entering its boot loader answers nothing: read it away.
    while (AwaitFrame(link_, ReplyId(), replyTimeoutMs_)) {
    }
    NodeFrame init{kFrameInit};
    std::copy_n(p.begin() + kInitArgsAt, 7, init.begin() + 1);
    Send(init);
}

void BootSession::BootInitVariant2(const Payload& p, CommandOutcome& outcome) {
    StoreParameters(p);
    SendNmt(link_, kNmtEnterPreOperational, 0);
    SendNmt(link_, kNmtEnterBootLoader, nodeId_);
    SleepMs(kEnterVariant2Ms);
    Send({kFrameAbort});
    Send({kFrameAbort});
    Poll(outcome);
    lastSubblockAddress_ = kNoSubblock;
    Send(HighByteFirst(kFrameInit, p, kInitArgsAt));
    SleepMs(kAfterInitArgsMs);
    Poll(outcome);
}

// The payload is the descriptor followed by the sub-block's data.
void BootSession::WriteSubblock(const Payload& p, CommandOutcome& outcome) {
    if (p.size() < kDescriptorBytes + U16At(p, kLengthAt)) {
        outcome.status = kNotCarriedOut;
    } else if (variant_ == 1) {
        Send({kFrameSubblockHeader, p[0], p[1], p[2], p[3], p[4], p[5], p[6]});
        Poll(outcome);
        SleepMs(kAfterHeaderMs);
        SendSegments(p, true);
    } else if (variant_ == 2) {
        WriteSubblockVariant2(p, outcome);
    } else {
        outcome.status = CCB_STATUS_NO_VARIANT;
    }
}

void BootSession::WriteSubblockVariant2(const Payload& p, CommandOutcome& outcome) {
    const uint32_t address = U16At(p, kAddressAt);
    if (address == lastSubblockAddress_) {
        outcome.status = CCB_STATUS_SAME_SUBBLOCK;
        return;
    }
    lastSubblockAddress_ = address;
    Send(HighByteFirst(kFrameSubblockHeader, p, 0));
    Poll(outcome);
    for (int repoll = 0; repoll < kBusyRepolls && Busy(outcome); ++repoll) {
        SleepMs(kBusyRepollMs);
        Poll(outcome);
    }
    SendSegments(p, false);
}

// Up to 7 data bytes a frame, behind a byte holding the count and the toggle; zeros after them.
void BootSession::SendSegments(const Payload& p, bool stopWhenRefused) {
    const size_t end = kDescriptorBytes + U16At(p, kLengthAt);
    uint8_t toggle = 0;
    for (size_t at = kDescriptorBytes; at < end; at += kSegmentCount) {
        const auto count = static_cast<uint8_t>(std::min<size_t>(kSegmentCount, end - at));
        NodeFrame segment{static_cast<uint8_t>(kFrameSegment | toggle | count)};
        std::copy_n(p.begin() + static_cast<std::ptrdiff_t>(at), count, segment.begin() + 1);
        if (!Send(segment) && stopWhenRefused) {
            return;
        }
        SleepMs(kAfterSegmentMs);
        toggle ^= kSegmentToggle;
    }
}

// In variant 2 the node is polled until it is done programming; an answer after an unanswered
// poll ends the wait whatever it says.
void BootSession::ProgramSubblock(CommandOutcome& outcome) {
    Send({kFrameProgram});
    if (variant_ != 2) {
        return;
    }
    bool missed = false;
    for (int polls = 0; polls < kProgramPolls; ++polls) {
        if (!Poll(outcome)) {
            missed = true;
        } else if (missed || !Busy(outcome)) {
            return;
        } else {
            SleepMs(kProgramRepollMs);
        }
    }
}

}  // namespace orv::sim
