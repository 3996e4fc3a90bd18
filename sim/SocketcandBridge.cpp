#include "sim/SocketcandBridge.h"

#include <sys/socket.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <thread>

#include "canlink/SocketcandText.h"
#include "sim/BusPort.h"
#include "sim/SimLog.h"
#include "sim/SocketcandCommands.h"

namespace orv::sim {
namespace {

enum class ClientState { Greeted, Opened, Raw };

// A client that sends nothing but garbage must not fill the log.
constexpr int kLoggedUnknownCommands = 10;

}  // namespace

SocketcandBridge::SocketcandBridge(VirtualBus& bus, const std::string& bindAddress, uint16_t port,
                                   std::string channel)
    : bus_(bus),
      channel_(std::move(channel)),
      server_("bridge", bindAddress, port, kMaxClients,
              [this](int fd, const std::string& peer) { Serve(fd, peer); }) {}

void SocketcandBridge::Serve(int fd, const std::string& peer) {
    std::mutex writeMutex;
    const auto write = [&](const std::string& text) {
        std::lock_guard<std::mutex> lock(writeMutex);
        return WriteAll(fd, text.data(), text.size());
    };
    std::unique_ptr<BusPort> port;
    std::thread forwarder;
    ClientState state = ClientState::Greeted;
    int unknownCommands = 0;

    // Each answer goes alone and without a line end: clients compare the handshake replies
    // whole.
    const auto handle = [&](const std::string& message) {
        const std::string command = message.substr(0, message.find(' '));
        if (command == "open") {
            if (state != ClientState::Greeted) {
                return write("< error channel already open >");
            }
            if (message != "open " + channel_) {
                return write("< error could not open bus >");
            }
            state = ClientState::Opened;
            return write("< ok >");
        }
        if (command == "rawmode") {
            if (state != ClientState::Opened) {
                return write("< error open a channel first >");
            }
            state = ClientState::Raw;
            // Attached before the client hears "< ok >", so it misses nothing sent after that.
            port = std::make_unique<BusPort>(bus_, "bridge client " + peer);
            if (!write("< ok >")) {
                return false;
            }
            forwarder = std::thread([&] {
                StampedFrame received;
                while (port->Receive(received, -1) == ICanLink::ReceiveResult::Frame) {
                    // The line end before each frame keeps frames apart for readers that cut
                    // the stream at fixed sizes.
                    if (!write("\n" + FormatFrameMessage(received.frame, received.when))) {
                        return;
                    }
                }
            });
            return true;
        }
        if (command == "send") {
            if (state != ClientState::Raw) {
                return write("< error not in raw mode >");
            }
            CanFrame frame;
            const std::string error = ParseSendCommand(message, frame);
            if (!error.empty()) {
                return write("< error " + error + " >");
            }
            return port->Send(frame);
        }
        if (command == "echo") {
            return write("< echo >");
        }
        if (unknownCommands++ < kLoggedUnknownCommands) {
            SimLog("bridge client %s: unknown command '%.40s'", peer.c_str(), message.c_str());
        }
        return write("< error unknown command >");
    };

    bool connected = write("< hi >");
    SocketcandSplitter splitter;
    char buffer[4096];
    while (connected) {
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        splitter.Feed(buffer, static_cast<size_t>(got));
        while (connected) {
            const std::optional<std::string> message = splitter.Next();
            if (!message) {
                break;
            }
            connected = handle(*message);
        }
    }
    if (port) {
        port->Close();
    }
    if (forwarder.joinable()) {
        forwarder.join();
    }
}

}  // namespace orv::sim
