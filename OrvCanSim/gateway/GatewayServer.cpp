#include "OrvCanSim/gateway/GatewayServer.h"

#include <vector>

#include "OrvCanSim/bus/BusPort.h"
#include "OrvCanSim/bus/SimLog.h"
#include "OrvCanSim/gateway/GatewayMessage.h"
#include "OrvCanSim/gateway/GatewayRequest.h"
#include "OrvCanSim/net/SocketIo.h"
#include "os/Clock.h"
#include "os/Socket.h"

namespace orv::sim {
namespace {

// Far more than any command's answers; a flood from elsewhere on the bus stops here.
constexpr size_t kFramesPerCommand = 4096;

}  // namespace

GatewayServer::GatewayServer(VirtualBus& bus, int board, const std::string& bindAddress,
                             uint16_t port, uint32_t closeAfter, ConnectionLimits limits)
    : bus_(bus),
      board_(board),
      name_("gateway " + std::to_string(board)),
      closeAfter_(closeAfter),
      limits_(limits),
      server_(name_, bindAddress, port, kMaxConnections,
              [this](int fd, const std::string& peer, ConnectionActivity& activity) {
                  Serve(fd, peer, activity);
              }) {}

void GatewayServer::Serve(int fd, const std::string& peer, ConnectionActivity& activity) {
    const std::string who = name_ + " " + peer;
    // The board hears the bus only while it carries out a command, and not without end: what
    // nodes say between commands answers none of them.
    BusPort port(bus_, who);
    port.LimitReceive(0);
    BootSession session(port);
    std::vector<uint8_t> request;
    for (uint32_t served = 0; closeAfter_ == 0 || served < closeAfter_; ++served) {
        if (!ReadRequest(fd, who, activity, request) || !activity.BeginCommand()) {
            return;
        }
        port.LimitReceive(kFramesPerCommand);
        const std::vector<uint8_t> answer = CarryOut(session, port, request);
        port.LimitReceive(0);
        activity.EndCommand();
        SimLog("%s: command %u -> status %u", who.c_str(), U32At(request, kCommandAt),
               U32At(answer, kStatusAt));
        if (!SendAll(fd, answer.data(), answer.size())) {
            return;
        }
    }
    SimLog("%s: closing after %u requests, as the scenario asks", who.c_str(), closeAfter_);
}

// False, logged, when the connection should close: the client left or stayed idle too long, or
// its request is malformed or not complete in time.
bool GatewayServer::ReadRequest(int fd, const std::string& who, ConnectionActivity& activity,
                                std::vector<uint8_t>& request) const {
    if (!AwaitClient(fd, activity, limits_.idleMs, who)) {
        return false;
    }
    activity.Touch();
    // One deadline for the whole request: a client that trickles it in byte by byte holds the
    // connection no longer than one that sends half of it and stops.
    const uint64_t deadline = NowMs() + limits_.requestMs;
    constexpr size_t kCountBytes = 4;
    request.resize(kCountBytes);
    if (!ReadExactlyBefore(fd, request.data(), kCountBytes, deadline)) {
        SimLog("%s: request cut off or late; connection closed", who.c_str());
        return false;
    }
    const uint32_t length = U32At(request, 0);
    if (!IsAcceptedRequestLength(length)) {
        SimLog("%s: a request of %u bytes is refused; connection closed", who.c_str(), length);
        return false;
    }
    request.resize(length);
    if (!ReadExactlyBefore(fd, request.data() + kCountBytes, length - kCountBytes, deadline)) {
        SimLog("%s: request cut off or late; connection closed", who.c_str());
        return false;
    }
    return IsWellFormed(request, who);
}

}  // namespace orv::sim
