#include "OrvCanSim/gateway/GatewayServer.h"

#include <cstring>
#include <memory>
#include <vector>

#include "os/Clock.h"
#include "os/Socket.h"
#include "OrvCanSim/bus/BusPort.h"
#include "OrvCanSim/gateway/GatewayRequest.h"
#include "OrvCanSim/bus/SimLog.h"
#include "OrvCanSim/net/SocketIo.h"
#include "transport/E2CCommAdapter.h"

namespace orv::sim {
namespace {

// Far more than any command's answers; a flood from elsewhere on the bus stops here.
constexpr size_t kFramesPerCommand = 4096;

uint32_t U32At(const uint8_t* bytes) {
    uint32_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

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
    auto ownedPort = std::make_unique<BusPort>(bus_, who);
    // The adapter queues every frame it hears without bound and empties the queue only when it
    // polls: let it hear the bus only while it carries out a command, and not without end.
    BusPort& port = *ownedPort;
    port.LimitReceive(0);
    CE2CCommAdapter adapter(std::move(ownedPort));
    CCcbMessage request;
    for (uint32_t served = 0; closeAfter_ == 0 || served < closeAfter_; ++served) {
        if (!ReadRequest(fd, who, activity, request) || !activity.BeginCommand()) {
            return;
        }
        port.LimitReceive(kFramesPerCommand);
        const std::vector<uint8_t> answer = CarryOut(adapter, request);
        port.LimitReceive(0);
        activity.EndCommand();
        SimLog("%s: command %u -> status %u", who.c_str(), request.command,
               U32At(answer.data() + 8));
        if (!SendAll(fd, answer.data(), answer.size())) {
            return;
        }
    }
    SimLog("%s: closing after %u requests, as the scenario asks", who.c_str(), closeAfter_);
}

// False, logged, when the connection should close: the client left or stayed idle too long, or
// its request is malformed or not complete in time.
bool GatewayServer::ReadRequest(int fd, const std::string& who, ConnectionActivity& activity,
                                CCcbMessage& request) const {
    if (!AwaitClient(fd, activity, limits_.idleMs, who)) {
        return false;
    }
    activity.Touch();
    // One deadline for the whole request: a client that trickles it in byte by byte holds the
    // connection no longer than one that sends half of it and stops.
    const uint64_t deadline = NowMs() + limits_.requestMs;
    uint32_t length = 0;
    auto* bytes = reinterpret_cast<uint8_t*>(&request);
    if (!ReadExactlyBefore(fd, &length, sizeof length, deadline)) {
        SimLog("%s: request cut off or late; connection closed", who.c_str());
        return false;
    }
    if (!IsAcceptedRequestLength(length)) {
        SimLog("%s: a request of %u bytes is refused; connection closed", who.c_str(), length);
        return false;
    }
    request.Clear();
    request.length = length;
    if (!ReadExactlyBefore(fd, bytes + sizeof length, length - sizeof length, deadline)) {
        SimLog("%s: request cut off or late; connection closed", who.c_str());
        return false;
    }
    return IsWellFormed(request, who);
}

}  // namespace orv::sim
