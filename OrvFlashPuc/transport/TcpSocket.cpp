#include "transport/TcpSocket.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "os/Clock.h"
#include "os/Console.h"
#include "os/TcpConnect.h"

namespace orv {

namespace {

uint32_t ReadU32Le(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

uint64_t DeadlineAfter(uint32_t timeoutMs) {
    return NowMs() + std::max(timeoutMs, CTcpSocket::kMinReplyWaitMs);
}

}  // namespace

int CTcpSocket::Initialize() {
    return StartSockets() ? 0 : 1;
}

CTcpSocket::~CTcpSocket() {
    Disconnect();
}

void CTcpSocket::SetParam(const uint8_t address[4], int port, void* /*guard*/) {
    std::memcpy(address_, address, sizeof address_);
    port_ = port;
}

int CTcpSocket::Connect() {
    Disconnect();
    const std::string host = std::to_string(address_[0]) + "." + std::to_string(address_[1]) + "." +
                             std::to_string(address_[2]) + "." + std::to_string(address_[3]);
    std::string reason;
    socket_ = ConnectTcp(host, static_cast<uint16_t>(port_), kConnectTimeoutMs, reason);
    if (socket_ == kNoSocket) {
        ConsoleErrorPrintf("gateway %s:%d: %s\n", host.c_str(), port_, reason.c_str());
        return kFailed;
    }
    receiveWaitMs_ = 0;
    return kOk;
}

void CTcpSocket::Disconnect() {
    if (socket_ != kNoSocket)
        CloseSocket(socket_);
    socket_ = kNoSocket;
    lateReplies_ = 0;
    held_ = 0;
}

int CTcpSocket::Send(uint32_t count, const void* request, uint32_t /*timeoutMs*/) {
    if (socket_ == kNoSocket || !DropLateReplies())
        return kFailed;
    DropUnasked();
    // Each send is bounded by the connection's send limit. A request cut short leaves the
    // gateway reading garbage: start afresh or not at all.
    if (!SendAll(socket_, request, count)) {
        Disconnect();
        return kFailed;
    }
    return kOk;
}

int CTcpSocket::Receive(int* replyLength, void* reply, uint32_t timeoutMs) {
    if (socket_ == kNoSocket)
        return kFailed;
    uint32_t replyBytes = 0;
    switch (ReceiveReply(DeadlineAfter(timeoutMs), replyBytes)) {
        case Wait::Ready:
            break;
        case Wait::TimedOut:
            ++lateReplies_;
            return kTimedOut;
        case Wait::Failed:
            Disconnect();
            return kFailed;
    }
    const uint32_t capacity = *replyLength > 0 ? static_cast<uint32_t>(*replyLength) : 0;
    const uint32_t stored = std::min(capacity, replyBytes);
    if (stored > 0)
        std::memcpy(reply, inbox_, stored);
    if (capacity > stored)
        std::memset(static_cast<uint8_t*>(reply) + stored, 0, capacity - stored);
    *replyLength = static_cast<int>(stored);
    ConsumeInbox(replyBytes);
    return kOk;
}

int CTcpSocket::SendReceive(uint32_t count, const void* request, int* replyLength, void* reply,
                            uint32_t timeoutMs, void* /*guard*/) {
    const int sent = Send(count, request, timeoutMs);
    if (sent != kOk)
        return sent;
    return Receive(replyLength, reply, timeoutMs);
}

CTcpSocket::Wait CTcpSocket::ReceiveReply(uint64_t deadlineMs, uint32_t& replyBytes) {
    for (;;) {
        if (held_ >= 4) {
            replyBytes = ReadU32Le(inbox_);
            if (replyBytes < kMinReplyBytes || replyBytes > kMaxReplyBytes)
                return Wait::Failed;
            if (held_ >= replyBytes)
                return Wait::Ready;
        }
        const uint64_t now = NowMs();
        if (now >= deadlineMs)
            return Wait::TimedOut;
        if (!LimitReceiveWait(deadlineMs - now))
            return Wait::Failed;
        const long got = ReceiveBlocking(socket_, inbox_ + held_, sizeof inbox_ - held_);
        if (got == kNothingYet)
            return Wait::TimedOut;
        if (got == kEnded)
            return Wait::Failed;
        held_ += static_cast<uint32_t>(got);
    }
}

bool CTcpSocket::LimitReceiveWait(uint64_t waitMs) {
    if (waitMs == receiveWaitMs_)
        return true;
    if (!SetReceiveLimit(socket_, waitMs))
        return false;
    receiveWaitMs_ = waitMs;
    return true;
}

bool CTcpSocket::DropLateReplies() {
    while (lateReplies_ > 0) {
        uint32_t replyBytes = 0;
        if (ReceiveReply(NowMs() + kLateReplyWaitMs, replyBytes) != Wait::Ready) {
            Disconnect();
            return false;
        }
        ConsumeInbox(replyBytes);
        --lateReplies_;
    }
    return true;
}

// A gateway that answered one request twice would otherwise have its second answer taken for
// the next request's.
void CTcpSocket::DropUnasked() {
    size_t dropped = held_;
    held_ = 0;
    for (long got; (got = ReceiveAvailable(socket_, inbox_, sizeof inbox_)) > 0;)
        dropped += static_cast<size_t>(got);
    // %lu: Windows' own printf knows no %zu.
    if (dropped > 0)
        ConsoleErrorPrintf("gateway: dropped %lu bytes that answered no request\n",
                           static_cast<unsigned long>(dropped));
}

void CTcpSocket::ConsumeInbox(uint32_t count) {
    held_ -= count;
    std::memmove(inbox_, inbox_ + count, held_);
}

}  // namespace orv
