#pragma once
// What the simulator's tests share: frames written as text, a capture of the simulator's log,
// and a client of its front ends on 127.0.0.1.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "canlink/CanLink.h"
#include "os/Clock.h"
#include "sim/BoardConfig.h"
#include "sim/SimLog.h"
#include "sim/SocketIo.h"
#include "transport/CcbMessage.h"
#include "transport/GatewayRecords.h"

namespace orv::sim::test {

using Bytes = std::vector<uint8_t>;

// "20C#6000" is a frame of exactly the bytes given (hexadecimal, as in a candump log);
// "20C:60" is 8 bytes long, zeros after the bytes given.
inline CanFrame Frame(const std::string& text) {
    CanFrame frame{.id = static_cast<uint32_t>(std::stoul(text.substr(0, 3), nullptr, 16))};
    for (size_t at = 4; at + 1 < text.size(); at += 2) {
        frame.data[frame.length++] =
            static_cast<uint8_t>(std::stoul(text.substr(at, 2), nullptr, 16));
    }
    frame.length = text[3] == ':' ? 8 : frame.length;
    return frame;
}
// The other way round; 8-byte frames in the short form.
inline std::string Text(const CanFrame& frame) {
    char text[24];
    int at = snprintf(text, sizeof text, "%03X%c", frame.id, frame.length == 8 ? ':' : '#');
    int end = frame.length;
    while (frame.length == 8 && end > 0 && frame.data[end - 1] == 0)
        --end;
    for (int i = 0; i < end; ++i)
        at += snprintf(text + at, sizeof text - at, "%02X", frame.data[i]);
    return text;
}

// While alive, the simulator's log lines are kept here instead of going to standard error.
class SimLogCapture {
  public:
    ~SimLogCapture() { SetSimLogSink(previous_); }
    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
    std::function<void(const std::string&)> previous_ = SetSimLogSink([this](auto& line) {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(line);
    });
};

class TcpClient {
  public:
    explicit TcpClient(int port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{
            AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
        if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close(fd_);
            throw std::runtime_error("cannot connect to port " + std::to_string(port));
        }
    }
    ~TcpClient() { close(fd_); }
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;

    bool Send(const std::string& bytes) { return WriteAll(fd_, bytes.data(), bytes.size()); }
    bool Read(void* bytes, size_t count, int timeoutMs = 60000) {
        return ReadExactlyBefore(fd_, bytes, count, NowMs() + timeoutMs);
    }
    // What arrives until quietMs pass without more (or the peer closes: closed tells).
    std::string ReadAll(int quietMs) {
        std::string text;
        char buffer[4096];
        pollfd ready{fd_, POLLIN, 0};
        ssize_t got = 1;
        while (poll(&ready, 1, quietMs) > 0 && (got = recv(fd_, buffer, sizeof buffer, 0)) > 0)
            text.append(buffer, static_cast<size_t>(got));
        closed = got <= 0;
        return text;
    }
    bool closed = false;

  private:
    int fd_;
};

constexpr uint32_t kBadReply = ~0U;

// One gateway command and the status of its reply (kBadReply when the reply is not one to the
// command); data gets the reply data.
inline uint32_t Command(TcpClient& client, uint32_t command, const Bytes& payload = {},
                        Bytes* data = nullptr) {
    CCcbMessage request, reply;
    request.SetAll(static_cast<uint32_t>(payload.size()), payload.data(), command, 0);
    auto* bytes = reinterpret_cast<uint8_t*>(&reply);
    if (!client.Send(std::string(reinterpret_cast<char*>(&request), request.length)) ||
        !client.Read(bytes, 4) || reply.length < 16 || reply.length > sizeof reply ||
        !client.Read(bytes + 4, reply.length - 4) || reply.command != command ||
        reply.length != CCcbMessage::kHeaderSize + reply.dataLength) {
        return kBadReply;
    }
    if (data)
        *data = Bytes(reply.data, reply.data + reply.dataLength);
    return reply.status;
}

// The download parameters that name node (replies within 500 ms, identifiers 0x180/0x200).
inline Bytes BootInit(uint8_t node) {
    const BootInitParams params{.nodeId = node};
    return Bytes(reinterpret_cast<const uint8_t*>(&params),
                 reinterpret_cast<const uint8_t*>(&params + 1));
}

inline BoardConfig Config(BoardKind kind, const std::string& options) {
    BoardConfig config;
    EXPECT_EQ(ParseBoardDescription(kind, options, config), "");
    return config;
}

}  // namespace orv::sim::test
