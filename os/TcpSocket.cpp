#include "os/TcpSocket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "os/Clock.h"
#include "os/Console.h"
#include "os/TcpConnect.h"

namespace {

uint32_t ReadU32Le(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

uint64_t DeadlineAfter(uint32_t timeoutMs) {
    return orv::NowMs() + std::max(timeoutMs, CTcpSocket::kMinReplyWaitMs);
}

}  // namespace

int CTcpSocket::Initialize() {
    return 0;
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
    fd_ = orv::ConnectTcp(host, static_cast<uint16_t>(port_), kConnectTimeoutMs, reason);
    if (fd_ < 0) {
        orv::ConsoleErrorPrintf("gateway %s:%d: %s\n", host.c_str(), port_, reason.c_str());
        return kFailed;
    }
    receiveWaitMs_ = 0;
    return kOk;
}

void CTcpSocket::Disconnect() {
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
    lateReplies_ = 0;
    held_ = 0;
}

int CTcpSocket::Send(uint32_t count, const void* request, uint32_t timeoutMs) {
    if (fd_ < 0 || !DropLateReplies())
        return kFailed;
    DropUnasked();
    const uint64_t deadline = DeadlineAfter(timeoutMs);
    const auto* bytes = static_cast<const uint8_t*>(request);
    uint32_t sent = 0;
    while (sent < count) {
        const ssize_t done = send(fd_, bytes + sent, count - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (done > 0) {
            sent += static_cast<uint32_t>(done);
            continue;
        }
        if (done < 0 && (errno == EAGAIN || errno == EINTR)) {
            const Wait wait = WaitFor(POLLOUT, deadline);
            if (wait == Wait::Ready)
                continue;
        }
        // A request cut short leaves the gateway reading garbage: start afresh or not at all.
        Disconnect();
        return kFailed;
    }
    return kOk;
}

int CTcpSocket::Receive(int* replyLength, void* reply, uint32_t timeoutMs) {
    if (fd_ < 0)
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

CTcpSocket::Wait CTcpSocket::WaitFor(short events, uint64_t deadlineMs) const {
    const uint64_t now = orv::NowMs();
    if (now >= deadlineMs)
        return Wait::TimedOut;
    pollfd entry{fd_, events, 0};
    const int ready = poll(&entry, 1, static_cast<int>(deadlineMs - now));
    if (ready == 0)
        return Wait::TimedOut;
    if (ready < 0)
        return errno == EINTR ? Wait::Ready : Wait::Failed;
    // Hang-ups and errors surface from the following recv or send.
    return Wait::Ready;
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
        const uint64_t now = orv::NowMs();
        if (now >= deadlineMs)
            return Wait::TimedOut;
        if (!LimitReceiveWait(deadlineMs - now))
            return Wait::Failed;
        const ssize_t got = recv(fd_, inbox_ + held_, sizeof inbox_ - held_, 0);
        if (got > 0) {
            held_ += static_cast<uint32_t>(got);
        } else if (got == 0) {
            return Wait::Failed;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return Wait::TimedOut;
        } else if (errno != EINTR) {
            return Wait::Failed;
        }
    }
}

bool CTcpSocket::LimitReceiveWait(uint64_t waitMs) {
    if (waitMs == receiveWaitMs_)
        return true;
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(waitMs / 1000);
    limit.tv_usec = static_cast<suseconds_t>(waitMs % 1000 * 1000);
    if (setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0)
        return false;
    receiveWaitMs_ = waitMs;
    return true;
}

bool CTcpSocket::DropLateReplies() {
    while (lateReplies_ > 0) {
        uint32_t replyBytes = 0;
        if (ReceiveReply(orv::NowMs() + kLateReplyWaitMs, replyBytes) != Wait::Ready) {
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
    for (;;) {
        const ssize_t got = recv(fd_, inbox_, sizeof inbox_, MSG_DONTWAIT);
        if (got > 0) {
            dropped += static_cast<size_t>(got);
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    if (dropped > 0)
        orv::ConsoleErrorPrintf("gateway: dropped %zu bytes that answered no request\n", dropped);
}

void CTcpSocket::ConsumeInbox(uint32_t count) {
    held_ -= count;
    std::memmove(inbox_, inbox_ + count, held_);
}
