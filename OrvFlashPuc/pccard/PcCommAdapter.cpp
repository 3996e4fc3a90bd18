#include "pccard/PcCommAdapter.h"

#include <algorithm>
#include <cstring>

#include "os/Clock.h"
#include "pccard/NiCanCard.h"
#include "pccard/UsbLight.h"

namespace orv {

namespace {

// A wait for one reply frame gives up after this many silent reads in a row.
constexpr int kMissesPerWait = 5;
constexpr uint32_t kAfterCardGoneMs = 100;

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

CPcCommAdapter::CPcCommAdapter(const char* canCardName)
    : CommandExecutingAdapter(kCardExecution), card_(CardForChannel(canCardName)) {}

CPcCommAdapter::CPcCommAdapter(CCanCard* card)
    : CommandExecutingAdapter(kCardExecution), card_(card) {}

CPcCommAdapter::~CPcCommAdapter() {
    card_.reset();
    SleepMs(kAfterCardGoneMs);
}

int CPcCommAdapter::Open(uint8_t /*nodeId*/) {
    if (opened_ == 0) {
        opened_ = (card_ && card_->Open() == 0) ? 1 : 0;
    }
    return opened_ != 0 ? 0 : 1;
}

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

bool CPcCommAdapter::SendToNode(uint16_t id, const Frame& frame) {
    return card_ && card_->Write(id, frame, sizeof frame) == 0;
}

void CPcCommAdapter::SendNmt(uint8_t specifier, uint8_t node) {
    const uint8_t bytes[2] = {specifier, static_cast<uint8_t>(node & 0x7F)};
    if (card_) {
        card_->Write(0, bytes, 2);
    }
}

CPcCommAdapter::ReadOutcome CPcCommAdapter::ReadForWait(uint16_t replyId, uint32_t replyTimeoutMs,
                                                        CanCardFrame& frame) {
    if (!card_) {
        return ReadOutcome::Timeout;
    }
    const int result = card_->Read(&frame, replyTimeoutMs / kMissesPerWait);
    if (result == CARD_ERR_TIMEOUT) {
        return ReadOutcome::Timeout;
    }
    if (result != 0) {
        return ReadOutcome::Error;
    }
    return frame.id == replyId ? ReadOutcome::Awaited : ReadOutcome::Foreign;
}

// Reads until kMissesPerWait reads in a row find nothing; each of the node's replies goes to
// take, which ends the wait with true, or returns false to start the count of silent reads
// again.
bool CPcCommAdapter::ReadReplies(uint16_t replyId, uint32_t replyTimeoutMs,
                                 const std::function<bool(const CanCardFrame&)>& take) {
    for (int misses = 0; misses < kMissesPerWait;) {
        CanCardFrame frame;
        switch (ReadForWait(replyId, replyTimeoutMs, frame)) {
            case ReadOutcome::Awaited:
                if (take(frame))
                    return true;
                misses = 0;
                break;
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

// Replies waiting from earlier traffic count too: the ring is not emptied before a wait.
bool CPcCommAdapter::WaitReply(uint16_t replyId, uint32_t replyTimeoutMs, Frame& answer) {
    return ReadReplies(replyId, replyTimeoutMs, [&answer](const CanCardFrame& frame) {
        std::memcpy(answer, frame.data, std::min<uint32_t>(frame.length, sizeof answer));
        return true;
    });
}

void CPcCommAdapter::DrainReplies(uint16_t replyId, uint32_t replyTimeoutMs) {
    ReadReplies(replyId, replyTimeoutMs, [](const CanCardFrame&) { return false; });
}

}  // namespace orv
