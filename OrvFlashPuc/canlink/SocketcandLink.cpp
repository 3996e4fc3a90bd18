#include "canlink/SocketcandLink.h"

#include <mutex>

#include "canlink/DescriptorLink.h"
#include "canlink/SocketcandText.h"
#include "os/Clock.h"
#include "os/TcpConnect.h"

namespace orv {
namespace {

// What is left of timeoutMs since start; negative timeouts stay unlimited.
int RemainingMs(uint64_t start, int timeoutMs) {
    if (timeoutMs < 0) {
        return -1;
    }
    const uint64_t elapsed = NowMs() - start;
    return elapsed >= static_cast<uint64_t>(timeoutMs) ? 0 : timeoutMs - static_cast<int>(elapsed);
}

class SocketcandLink : public DescriptorLink {
  public:
    using DescriptorLink::DescriptorLink;

    bool Valid() const { return poll_.Valid(); }

    bool Send(const CanFrame& frame) override {
        if (closed_.load() || frame.length > 8) {
            return false;
        }
        return SendText(FormatSocketcandSend(frame));
    }

    bool SendText(const std::string& text) {
        // The engine's caller and a handshake never send at once, but keep whole messages whole.
        std::lock_guard<std::mutex> lock(sendMutex_);
        return SendAll(socket_, text.data(), text.size());
    }

    ReceiveResult Receive(CanFrame& frame, int timeoutMs) override {
        const uint64_t start = NowMs();
        std::string message;
        for (;;) {
            const ReceiveResult result = ReceiveMessage(message, RemainingMs(start, timeoutMs));
            // Errors and other notices in raw mode concern no frame of ours.
            if (result != ReceiveResult::Frame || ParseSocketcandFrame(message, frame)) {
                return result;
            }
        }
    }

    // The next whole message, whatever it says.
    ReceiveResult ReceiveMessage(std::string& message, int timeoutMs) {
        const uint64_t start = NowMs();
        for (;;) {
            if (std::optional<std::string> next = splitter_.Next()) {
                message = std::move(*next);
                return ReceiveResult::Frame;
            }
            if (const std::optional<ReceiveResult> ended =
                    WaitReadable(RemainingMs(start, timeoutMs))) {
                return *ended;
            }
            char bytes[1024];
            const long got = ReceiveAvailable(socket_, bytes, sizeof bytes);
            if (got == kNothingYet) {
                continue;
            }
            if (got == kEnded) {
                return Lost();
            }
            splitter_.Feed(bytes, static_cast<size_t>(got));
        }
    }

  private:
    SocketcandSplitter splitter_;
    std::mutex sendMutex_;
};

// Waits for "< ok >" (or the greeting "< hi >"); anything else fails the handshake.
bool Expect(SocketcandLink& link, const std::string& wanted, const std::string& step, int timeoutMs,
            std::string& error) {
    std::string message;
    switch (link.ReceiveMessage(message, timeoutMs)) {
        case CanLink::ReceiveResult::Timeout:
            error =
                "socketcand: no reply to " + step + " within " + std::to_string(timeoutMs) + " ms";
            return false;
        case CanLink::ReceiveResult::Closed:
            error = "socketcand: the server closed the connection at " + step;
            return false;
        case CanLink::ReceiveResult::Frame:
            break;
    }
    if (message == wanted) {
        return true;
    }
    if (std::optional<std::string> refusal = SocketcandErrorText(message)) {
        error = "socketcand: " + step + " refused: " + *refusal;
    } else {
        error = "socketcand: unexpected reply to " + step + ": < " + message + " >";
    }
    return false;
}

}  // namespace

std::unique_ptr<CanLink> OpenSocketcandLink(const std::string& host, uint16_t port,
                                             const std::string& channel, int stepTimeoutMs,
                                             std::string& error) {
    std::string reason;
    const SocketHandle socket = ConnectTcp(host, port, stepTimeoutMs, reason);
    if (socket == kNoSocket) {
        error =
            "socketcand: cannot connect to " + host + ":" + std::to_string(port) + ": " + reason;
        return nullptr;
    }
    auto link = std::make_unique<SocketcandLink>(socket);
    if (!link->Valid()) {
        error = "socketcand: out of file descriptors";
        return nullptr;
    }
    if (!Expect(*link, "hi", "the greeting", stepTimeoutMs, error)) {
        return nullptr;
    }
    for (const std::string& step : {"open " + channel, std::string("rawmode")}) {
        if (!link->SendText("< " + step + " >")) {
            error = "socketcand: the connection broke while sending " + step;
            return nullptr;
        }
        if (!Expect(*link, "ok", step, stepTimeoutMs, error)) {
            return nullptr;
        }
    }
    return link;
}

}  // namespace orv
