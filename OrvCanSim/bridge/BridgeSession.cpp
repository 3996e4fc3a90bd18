#include "OrvCanSim/bridge/BridgeSession.h"

#include "os/Socket.h"
#include "os/TcpListen.h"
#include "OrvCanSim/bus/SimLog.h"
#include "OrvCanSim/net/SocketIo.h"
#include "OrvCanSim/bridge/SocketcandCommands.h"

namespace orv::sim {
namespace {

// A client that sends nothing but garbage must not fill the log.
constexpr int kLoggedUnknownCommands = 10;

}  // namespace

BridgeSession::BridgeSession(VirtualBus& bus, const std::string& channel, int fd,
                             const std::string& peer, ConnectionActivity& activity, uint32_t idleMs)
    : bus_(bus),
      channel_(channel),
      fd_(fd),
      who_("bridge client " + peer),
      activity_(activity),
      idleMs_(idleMs) {}

BridgeSession::~BridgeSession() {
    // Wakes a forwarder stuck writing to a client that reads nothing.
    ShutdownSocket(fd_);
    if (port_) {
        port_->Close();
    }
    if (forwarder_.joinable()) {
        forwarder_.join();
    }
}

void BridgeSession::Run() {
    bool connected = Write("< hi >");
    SocketcandSplitter splitter;
    while (connected && Receive(splitter)) {
        while (connected) {
            const std::optional<std::string> message = splitter.Next();
            if (!message) {
                break;
            }
            // Only whole messages count: a trickle of bytes keeps no client alive.
            activity_.Touch();
            connected = Handle(*message);
        }
    }
}

// Feeds what the client sent next; false when it left or stayed idle too long.
bool BridgeSession::Receive(SocketcandSplitter& splitter) {
    char buffer[4096];
    for (;;) {
        if (!AwaitClient(fd_, activity_, idleMs_, who_)) {
            return false;
        }
        const long got = ReceiveAvailable(fd_, buffer, sizeof buffer);
        if (got == kNothingYet) {
            continue;
        }
        if (got == kEnded) {
            return false;
        }
        splitter.Feed(buffer, static_cast<size_t>(got));
        return true;
    }
}

bool BridgeSession::Handle(const std::string& message) {
    const std::string command = message.substr(0, message.find(' '));
    if (command == "open") {
        return Open(message);
    }
    if (command == "rawmode") {
        return EnterRawMode();
    }
    if (command == "send") {
        return SendFrame(message);
    }
    if (command == "echo") {
        return Write("< echo >");
    }
    return Unknown(message);
}

bool BridgeSession::Open(const std::string& message) {
    if (state_ != State::Greeted) {
        return Write("< error channel already open >");
    }
    if (message != "open " + channel_) {
        return Write("< error could not open bus >");
    }
    state_ = State::Opened;
    return Write("< ok >");
}

bool BridgeSession::EnterRawMode() {
    if (state_ != State::Opened) {
        return Write("< error open a channel first >");
    }
    state_ = State::Raw;
    // Attached before the client hears "< ok >", so it misses nothing sent after that.
    port_ = std::make_unique<BusPort>(bus_, who_);
    if (!Write("< ok >")) {
        return false;
    }
    forwarder_ = std::thread([this] { Forward(); });
    return true;
}

bool BridgeSession::SendFrame(const std::string& message) {
    if (state_ != State::Raw) {
        return Write("< error not in raw mode >");
    }
    CanFrame frame;
    const std::string error = ParseSendCommand(message, frame);
    if (!error.empty()) {
        return Write("< error " + error + " >");
    }
    return port_->Send(frame);
}

bool BridgeSession::Unknown(const std::string& message) {
    if (unknownCommands_++ < kLoggedUnknownCommands) {
        SimLog("%s: unknown command '%.40s'", who_.c_str(), message.c_str());
    }
    return Write("< error unknown command >");
}

// Every bus frame from elsewhere, until the port closes or the client cannot take more.
void BridgeSession::Forward() {
    StampedFrame received;
    while (port_->Receive(received, -1) == CanLink::ReceiveResult::Frame) {
        // The line end before each frame keeps frames apart for readers that cut the stream at
        // fixed sizes.
        if (!Write("\n" + FormatFrameMessage(received.frame, received.when))) {
            return;
        }
        // A client that listens is served, not idle.
        activity_.Touch();
    }
}

bool BridgeSession::Write(const std::string& text) {
    std::lock_guard<std::mutex> lock(writeMutex_);
    return SendAll(fd_, text.data(), text.size());
}

}  // namespace orv::sim
