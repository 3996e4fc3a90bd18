#include "pccard/PcCommAdapter.h"

#include <algorithm>
#include <cstring>

#include "os/Clock.h"
#include "pccard/NiCanCard.h"
#include "pccard/UsbLight.h"
#include "transport/BootLoaderFrames.h"
#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace {

// A wait for one reply frame gives up after this many silent reads in a row.
constexpr int kMissesPerWait = 5;
constexpr int kBusyPollsPerSubblock = 25;
constexpr int kBusyPollsPerProgram = 50;
constexpr uint32_t kPollAnswerDelayMs = 300;
constexpr uint32_t kBootEntryVariant1Ms = 2000;
constexpr uint32_t kBootEntryVariant2Ms = 4000;
constexpr uint32_t kInitArgsSettleMs = 1000;
constexpr uint32_t kSubblockHeaderSettleMs = 300;
constexpr uint32_t kBusyRepollMs = 200;
constexpr uint32_t kProgramRepollMs = 100;
constexpr uint32_t kSegmentGapMs = 1;
constexpr uint32_t kBeforeJumpMs = 50;
constexpr uint32_t kAfterCardGoneMs = 100;
constexpr uint32_t kNoSubblock = 0xFFFFFFFF;

std::unique_ptr<CCanCard> CardForChannel(const char* name) {
    if (name != nullptr && std::strcmp(name, "CAN0") == 0) {
        return std::make_unique<CNiCanCard>();
    }
    if (name != nullptr && std::strcmp(name, "CAN1") == 0) {
        return std::make_unique<USBLight>();
    }
    return nullptr;
}

}  // namespace

CPcCommAdapter::CPcCommAdapter(const char* canCardName) : card_(CardForChannel(canCardName)) {}

CPcCommAdapter::CPcCommAdapter(CCanCard* card) : card_(card) {}

CPcCommAdapter::~CPcCommAdapter() {
    card_.reset();
    orv::SleepMs(kAfterCardGoneMs);
}

int CPcCommAdapter::Open(uint8_t /*nodeId*/) {
    if (opened_ == 0) {
        opened_ = (card_ && card_->Open() == 0) ? 1 : 0;
    }
    return opened_ != 0 ? 0 : 1;
}

// Raw frames have no route through a PC card.
int CPcCommAdapter::SendRaw(const void* /*request*/, int /*requestLength*/, void* /*reply*/,
                            int /*replyCapacity*/, uint32_t /*timeoutMs*/) {
    return 0;
}

int CPcCommAdapter::Reset() {
    if (!card_) {
        return 1;
    }
    return card_->Close() == 0 ? 0 : 1;
}

int CPcCommAdapter::SendToNode(const uint8_t (&bytes)[8]) {
    if (!card_) {
        return CARD_ERR_NO_LIBRARY;
    }
    return card_->Write(static_cast<uint16_t>(nodeId_ | requestBase_), bytes, 8);
}

bool CPcCommAdapter::SendNmt(uint8_t specifier, uint8_t node) {
    const uint8_t bytes[2] = {specifier, static_cast<uint8_t>(node & 0x7F)};
    return card_ && card_->Write(0, bytes, 2) == 0;
}

CPcCommAdapter::ReadOutcome CPcCommAdapter::ReadForWait(CanCardFrame& frame) {
    if (!card_) {
        return ReadOutcome::Timeout;
    }
    const int result = card_->Read(&frame, replyTimeoutMs_ / kMissesPerWait);
    if (result == CARD_ERR_TIMEOUT) {
        return ReadOutcome::Timeout;
    }
    if (result != 0) {
        return ReadOutcome::Error;
    }
    return frame.id == static_cast<uint32_t>(nodeId_ | replyBase_) ? ReadOutcome::NodeReply
                                                                   : ReadOutcome::Foreign;
}

// Replies waiting from earlier traffic count too: the ring is not emptied before a wait.
bool CPcCommAdapter::WaitReply(Answer& answer) {
    int misses = 0;
    while (misses < kMissesPerWait) {
        CanCardFrame frame;
        switch (ReadForWait(frame)) {
            case ReadOutcome::NodeReply:
                std::memcpy(answer, frame.data, std::min<uint32_t>(frame.length, sizeof answer));
                return true;
            case ReadOutcome::Foreign:
                break;
            case ReadOutcome::Timeout:
                ++misses;
                break;
            case ReadOutcome::Error:
                return false;
        }
    }
    return false;
}

// Reads the node's replies until it has been silent for a whole wait.
void CPcCommAdapter::DrainReplies() {
    int misses = 0;
    while (misses < kMissesPerWait) {
        CanCardFrame frame;
        switch (ReadForWait(frame)) {
            case ReadOutcome::NodeReply:
                misses = 0;
                break;
            case ReadOutcome::Foreign:
                break;
            case ReadOutcome::Timeout:
                ++misses;
                break;
            case ReadOutcome::Error:
                return;
        }
    }
}

bool CPcCommAdapter::Poll(Answer& answer, CCcbMessage* reply) {
    SendToNode({BOOT_FRAME_POLL});
    orv::SleepMs(kPollAnswerDelayMs);
    if (!WaitReply(answer)) {
        reply->status = CCB_STATUS_NO_REPLY;
        return false;
    }
    reply->status = CCB_STATUS_OK;
    reply->SetData(answer, sizeof answer);
    return true;
}

void CPcCommAdapter::TakeNodeParameters(const uint8_t* p) {
    BootInitParams params;
    std::memcpy(&params, p, sizeof params);
    nodeId_ = params.nodeId;
    replyTimeoutMs_ = params.replyTimeoutMs;
    replyBase_ = params.replyBase;
    requestBase_ = params.requestBase;
}

int CPcCommAdapter::Transact(const CCcbMessage* request, CCcbMessage* reply, int /*replyCapacity*/,
                             uint32_t /*timeoutMs*/) {
    reply->Clear();
    reply->command = request->command;
    const uint8_t* p = request->data;
    Answer answer = {};
    const auto answerOrNoReply = [&](bool answered) {
        reply->status = answered ? CCB_STATUS_OK : CCB_STATUS_NO_REPLY;
        if (answered) {
            reply->SetData(answer, sizeof answer);
        }
    };
    // Commands that only send a frame are done once it is out; the others set their own status.
    reply->status = CCB_STATUS_OK;
    switch (request->command) {
        case CCB_CMD_BOOT_INIT:
            BootInit(p, reply);
            break;
        case CCB_CMD_WRITE_SUBBLOCK:
            WriteSubblock(p, reply);
            break;
        case CCB_CMD_ABORT:
            SendToNode({BOOT_FRAME_ABORT});
            break;
        case CCB_CMD_WRITE_ENABLE:
            SendToNode({BOOT_FRAME_WRITE_ENABLE, kWriteEnableKey});
            break;
        case CCB_CMD_READ_CODE:
            SendToNode({BOOT_FRAME_READ_CODE, p[1], p[2], p[3], p[4], p[5], p[6], p[7]});
            answerOrNoReply(WaitReply(answer));
            break;
        case CCB_CMD_JUMP_TO_APP:
            orv::SleepMs(kBeforeJumpMs);
            SendToNode({BOOT_FRAME_JUMP_TO_APP});
            break;
        case CCB_CMD_FINALIZE:
            SendNmt(NMT_START, 0);
            variant_ = 0;
            replyBase_ = 0;
            requestBase_ = 0;
            break;
        case CCB_CMD_GET_STATUS:
            Poll(answer, reply);
            break;
        case CCB_CMD_GET_INFO:
            SendToNode({BOOT_FRAME_GET_INFO});
            answerOrNoReply(WaitReply(answer));
            break;
        case CCB_CMD_VALIDATE:
            SendToNode({BOOT_FRAME_VALIDATE});
            break;
        case CCB_CMD_PROGRAM_SUBBLOCK:
            ProgramSubblock(reply);
            break;
        case CCB_CMD_SELECT_VARIANT_1:
        case CCB_CMD_SELECT_VARIANT_2:
            SendNmt(NMT_ENTER_PRE_OPERATIONAL, 0);
            variant_ = request->command == CCB_CMD_SELECT_VARIANT_1 ? 1 : 2;
            break;
        case CCB_CMD_SEND_DATA:
            SendToNode({p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7]});
            break;
        case CCB_CMD_INIT_EXT_INFO:
            SendToNode({BOOT_FRAME_INIT_EXT_INFO});
            break;
        case CCB_CMD_CONFIGURE:
            TakeNodeParameters(p);
            break;
        default:
            reply->status = CCB_STATUS_NOT_EXECUTED;
            break;
    }
    return 0;
}

void CPcCommAdapter::BootInit(const uint8_t* p, CCcbMessage* reply) {
    Answer answer = {};
    uint8_t frame[8];
    switch (variant_) {
        case 1:
            TakeNodeParameters(p);
            SendNmt(NMT_ENTER_BOOT_LOADER, nodeId_);
            orv::SleepMs(kBootEntryVariant1Ms);
            SendToNode({BOOT_FRAME_ABORT});
            DrainReplies();
            SendToNode({BOOT_FRAME_INIT, p[2], p[3], p[4], p[5], p[6], p[7], p[8]});
            reply->status = CCB_STATUS_OK;
            break;
        case 2:
            TakeNodeParameters(p);
            SendNmt(NMT_ENTER_PRE_OPERATIONAL, 0);
            SendNmt(NMT_ENTER_BOOT_LOADER, nodeId_);
            orv::SleepMs(kBootEntryVariant2Ms);
            SendToNode({BOOT_FRAME_ABORT});
            SendToNode({BOOT_FRAME_ABORT});
            Poll(answer, reply);
            lastSubblockAddress_ = kNoSubblock;
            PutHighByteFirstFrame(frame, BOOT_FRAME_INIT, p + 2);
            SendToNode(frame);
            orv::SleepMs(kInitArgsSettleMs);
            Poll(answer, reply);
            break;
        default:
            variant_ = 0;
            reply->status = CCB_STATUS_NO_VARIANT;
            break;
    }
}

void CPcCommAdapter::WriteSubblock(const uint8_t* p, CCcbMessage* reply) {
    SubblockDescriptor descriptor;
    std::memcpy(&descriptor, p, sizeof descriptor);
    const uint8_t* data = p + sizeof descriptor;
    // A length beyond the message cannot be sent; the data area ends there.
    const uint32_t count =
        std::min<uint32_t>(descriptor.length, CCcbMessage::kMaxData - sizeof descriptor);
    Answer answer = {};
    uint8_t header[8];
    switch (variant_) {
        case 1:
            SendToNode({BOOT_FRAME_SUBBLOCK_HEADER, p[0], p[1], p[2], p[3], p[4], p[5], p[6]});
            Poll(answer, reply);
            orv::SleepMs(kSubblockHeaderSettleMs);
            SendSegments(data, count, false, true);
            break;
        case 2:
            if (descriptor.address == lastSubblockAddress_) {
                reply->status = CCB_STATUS_SAME_SUBBLOCK;
                return;
            }
            lastSubblockAddress_ = descriptor.address;
            PutHighByteFirstFrame(header, BOOT_FRAME_SUBBLOCK_HEADER, p);
            SendToNode(header);
            Poll(answer, reply);
            for (int polls = 0; (answer[1] & kBusyBits) != 0 && polls < kBusyPollsPerSubblock;
                 ++polls) {
                orv::SleepMs(kBusyRepollMs);
                Poll(answer, reply);
            }
            SendSegments(data, count, true, false);
            break;
        default:
            reply->status = CCB_STATUS_NO_VARIANT;
            break;
    }
}

// Up to 7 data bytes per frame behind a header byte carrying the count and a toggle bit; the
// bytes after a short segment's data keep what the previous segment had there.
void CPcCommAdapter::SendSegments(const uint8_t* data, uint32_t count, bool pauseAfterEach,
                                  bool stopOnFailedWrite) {
    uint8_t frame[8] = {};
    uint8_t toggle = 0;
    for (uint32_t offset = 0; offset < count;) {
        const uint32_t k = std::min<uint32_t>(kSegmentDataBytes, count - offset);
        frame[0] = SegmentHeader(toggle, k);
        std::memcpy(frame + 1, data + offset, k);
        const bool written = SendToNode(frame) == 0;
        if (!written && stopOnFailedWrite) {
            return;
        }
        offset += k;
        toggle ^= kSegmentToggle;
        if (pauseAfterEach) {
            orv::SleepMs(kSegmentGapMs);
        }
    }
}

void CPcCommAdapter::ProgramSubblock(CCcbMessage* reply) {
    SendToNode({BOOT_FRAME_PROGRAM});
    reply->status = CCB_STATUS_OK;
    if (variant_ != 2) {
        return;
    }
    Answer answer = {};
    Poll(answer, reply);
    for (int polls = 0; (answer[1] & kBusyBits) != 0 && polls < kBusyPollsPerProgram; ++polls) {
        orv::SleepMs(kProgramRepollMs);
        Poll(answer, reply);
    }
}
