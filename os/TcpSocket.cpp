#include "os/TcpSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "os/Clock.h"

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
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return kFailed;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<uint16_t>(port_));
    std::memcpy(&peer.sin_addr, address_, sizeof address_);
    int result = connect(fd_, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
    if (result != 0 && errno == EINPROGRESS) {
        const Wait wait = WaitFor(POLLOUT, orv::NowMs() + kConnectTimeoutMs);
        int error = 0;
        socklen_t size = sizeof error;
        if (wait == Wait::Ready && getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size) == 0 &&
            error == 0) {
            result = 0;
        }
    }
    if (result != 0) {
        Disconnect();
        return kFailed;
    }
    // Requests are small and each waits for its reply: never hold one back. Reads block, each
    // bounded by its receive time-out, so that an exchange costs one send and one receive.
    const int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
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

void CTcpSocket::ConsumeInbox(uint32_t count) {
    held_ -= count;
    std::memmove(inbox_, inbox_ + count, held_);
}
