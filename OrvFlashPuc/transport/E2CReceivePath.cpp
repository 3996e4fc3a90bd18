// How CE2CCommAdapter takes the frames the engine's thread delivers and hands them to waits.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "os/Clock.h"
#include "transport/E2CCommAdapter.h"

namespace orv {

void CE2CCommAdapter::PushFrame(const unsigned char* record) {
    FrameRecord copy;
    std::memcpy(&copy, record, sizeof copy);
    {
        std::lock_guard lock(rxLock_);
        rxQueue_.Push(copy);
    }
    rxEvent_.Set();
}

void CE2CCommAdapter::OnReceiveBytes(const uint8_t* bytes, int count) {
    constexpr int kRecord = sizeof(FrameRecord);
    int used = 0;
    if (partialCount_ > 0 && count > 0) {
        used = std::min(count, kRecord - partialCount_);
        std::memcpy(partial_ + partialCount_, bytes, static_cast<size_t>(used));
        partialCount_ += used;
        if (partialCount_ == kRecord) {
            PushFrame(partial_);
            partialCount_ = 0;
        }
    }
    for (; count - used >= kRecord; used += kRecord) {
        PushFrame(bytes + used);
    }
    if (count > used) {
        std::memcpy(partial_, bytes + used, static_cast<size_t>(count - used));
        partialCount_ = count - used;
    }
}

int CE2CCommAdapter::WaitForFrame(uint8_t* out, uint8_t node, uint32_t timeoutMs) {
    return WaitForId(out, static_cast<uint16_t>(node | ReplyBase()), timeoutMs);
}

// Takes queued frames until the awaited one, dropping the others.
bool CE2CCommAdapter::TakeAwaited(uint8_t* out, uint16_t awaited) {
    std::lock_guard lock(rxLock_);
    FrameRecord frame;
    while (rxQueue_.Pop(frame)) {
        if (frame.id == awaited) {
            std::memcpy(out, frame.data, sizeof frame.data);
            return true;
        }
    }
    return false;
}

int CE2CCommAdapter::WaitForId(uint8_t* out, uint16_t awaited, uint32_t timeoutMs) {
    uint32_t remaining = timeoutMs;
    uint64_t noted = NowMs();
    ManualResetEvent::WaitResult result = rxEvent_.Wait(remaining);
    for (;;) {
        if (result == ManualResetEvent::WaitResult::TimedOut) {
            return 0;
        }
        // Reset before draining: a frame pushed meanwhile sets the event again for the next wait.
        rxEvent_.Reset();
        if (TakeAwaited(out, awaited)) {
            return 1;
        }
        const uint64_t now = NowMs();
        const double left =
            std::trunc(static_cast<double>(remaining) - static_cast<double>(now - noted));
        if (left < 0) {
            return 0;
        }
        remaining = static_cast<uint32_t>(left);
        noted = now;
        result = rxEvent_.Wait(remaining);
    }
}

bool CE2CCommAdapter::WaitReply(uint16_t replyId, uint32_t replyTimeoutMs, Frame& answer) {
    return WaitForId(answer, replyId, replyTimeoutMs) == 1;
}

void CE2CCommAdapter::DrainReplies(uint16_t replyId, uint32_t replyTimeoutMs) {
    Frame answer;
    while (WaitForId(answer, replyId, replyTimeoutMs) == 1) {
    }
}

// A poll's answer must be one the node gives after the poll.
void CE2CCommAdapter::ForgetPendingReplies() {
    std::lock_guard lock(rxLock_);
    rxQueue_.Clear();
}

}  // namespace orv
