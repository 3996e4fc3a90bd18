#pragma once

#include <cstdint>

#include "os/Socket.h"

namespace orv {

// Request/reply connection to a CAN gateway board. Every reply starts with its own byte count
// (u32, little-endian), which is how the stream is cut into replies.
class CTcpSocket {
  public:
    // A reply carries at least its byte count and the echoed command; the caller judges the
    // rest. Counts below that or above the largest gateway message mean the stream is out of
    // step.
    static constexpr uint32_t kMinReplyBytes = 8;
    static constexpr uint32_t kMaxReplyBytes = 4016;
    static constexpr int kConnectTimeoutMs = 3000;
    // Shortest wait for a reply. The gateway answers some commands at once and the protocol
    // allows them 2 ms, but a round trip through a busy host can take far longer; a reply that
    // is on its way is worth waiting for.
    static constexpr uint32_t kMinReplyWaitMs = 200;
    // How long a reply that came too late may still take before the connection is given up.
    static constexpr int kLateReplyWaitMs = 1000;

    // Results of Connect, Send, Receive and SendReceive.
    static constexpr int kOk = 0;
    static constexpr int kTimedOut = 1;
    // Not connected, refused, closed or reset, or a reply out of step: the connection is closed.
    static constexpr int kFailed = 2;

    CTcpSocket() = default;
    CTcpSocket(const CTcpSocket&) = delete;
    CTcpSocket& operator=(const CTcpSocket&) = delete;

    // 0 on success: the system's sockets can be used.
    static int Initialize();

    // The virtual operations keep the order of the gateway library's own class, which callers
    // built against it rely on: SendReceive is the seventh.
    virtual ~CTcpSocket();
    // address: four octets, first octet first. guard is unused and may be null.
    virtual void SetParam(const uint8_t address[4], int port, void* guard);
    // 0 when connected; gives up after kConnectTimeoutMs and says why on standard error.
    virtual int Connect();
    virtual void Disconnect();
    // Sends count bytes whole; 0 on success. First drops the replies of requests that timed out,
    // then whatever else is waiting: no request asked for it.
    virtual int Send(uint32_t count, const void* request, uint32_t timeoutMs);
    // Receives the next reply: at most *replyLength bytes land in reply, the rest of that reply
    // is dropped, and the buffer beyond a shorter reply is cleared up to *replyLength, so that
    // nothing of an earlier exchange reads as this one's. *replyLength becomes the bytes
    // stored. 0 on success.
    virtual int Receive(int* replyLength, void* reply, uint32_t timeoutMs);
    // One exchange: 0 when the request went out and its reply came back within timeoutMs.
    virtual int SendReceive(uint32_t count, const void* request, int* replyLength, void* reply,
                            uint32_t timeoutMs, void* guard);

  private:
    enum class Wait { Ready, TimedOut, Failed };

    // Reads until inbox_ holds one whole reply; its byte count on success.
    Wait ReceiveReply(uint64_t deadlineMs, uint32_t& replyBytes);
    // Bounds the next blocking read; a wait like the last one costs no system call.
    bool LimitReceiveWait(uint64_t waitMs);
    bool DropLateReplies();
    void DropUnasked();
    void ConsumeInbox(uint32_t count);

    uint8_t address_[4] = {};
    int port_ = 0;
    SocketHandle socket_ = kNoSocket;
    // Requests whose replies had not come when they timed out; those replies come first.
    int lateReplies_ = 0;
    uint64_t receiveWaitMs_ = 0;
    // Received bytes not yet handed out: the start of the next reply.
    uint8_t inbox_[2 * 4096] = {};
    uint32_t held_ = 0;
};

}  // namespace orv
