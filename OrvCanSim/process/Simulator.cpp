#include "OrvCanSim/process/Simulator.h"

#include <chrono>
#include <random>

#include "OrvCanSim/bus/SimLog.h"
#include "OrvCanSim/process/CandumpTrace.h"
#include "OrvCanSim/process/PcapTrace.h"

namespace orv::sim {
namespace {

BusSettings BusSettingsOf(const SimOptions& options) {
    BusSettings settings;
    settings.bitrate = options.bitrate;
    settings.lossRate = options.lossRate;
    settings.seed = options.seed ? *options.seed : std::random_device{}();
    return settings;
}

}  // namespace

Simulator::Simulator(const SimOptions& options) : bus_(BusSettingsOf(options)) {
    SimLog("bus: %u bit/s%s, loss %g, seed %llu", options.bitrate,
           options.bitrate == 0 ? " (unpaced)" : "", options.lossRate,
           static_cast<unsigned long long>(bus_.Seed()));
    std::vector<std::unique_ptr<FrameSink>> traces;
    if (!options.tracePath.empty()) {
        traces.push_back(std::make_unique<CandumpTrace>(options.tracePath, options.channel));
    }
    if (!options.pcapPath.empty()) {
        traces.push_back(std::make_unique<PcapTrace>(options.pcapPath, options.channel));
    }
    if (!traces.empty()) {
        recorder_ = std::make_unique<BusRecorder>(bus_, std::move(traces));
    }
    for (const BoardConfig& config : options.boards) {
        boards_.push_back(std::make_unique<BoardNode>(
            bus_, config, std::chrono::milliseconds(options.replyDelayMs)));
    }
    for (const GatewaySpec& gateway : options.gateways) {
        gateways_.push_back(std::make_unique<GatewayServer>(bus_, gateway.board,
                                                            options.bindAddress, gateway.port,
                                                            options.closeAfter, options.limits));
    }
    if (options.bridgePort) {
        bridge_ = std::make_unique<SocketcandBridge>(bus_, options.bindAddress, *options.bridgePort,
                                                     options.channel, options.limits);
    }
}

Simulator::~Simulator() {
    Shutdown(std::chrono::hours(1));
    bus_.Stop();
}

std::string Simulator::ListenLines() const {
    std::string lines;
    for (const auto& gateway : gateways_) {
        lines += "LISTEN gateway " + std::to_string(gateway->Board()) + " " +
                 std::to_string(gateway->Port()) + "\n";
    }
    if (bridge_) {
        lines += "LISTEN bridge " + std::to_string(bridge_->Port()) + "\n";
    }
    return lines + "READY\n";
}

bool Simulator::Shutdown(std::chrono::milliseconds grace) {
    const auto deadline = std::chrono::steady_clock::now() + grace;
    const auto left = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::max(deadline - std::chrono::steady_clock::now(),
                     std::chrono::steady_clock::duration::zero()));
    };
    bool ended = !bridge_ || bridge_->Stop(left());
    for (const auto& gateway : gateways_) {
        ended = gateway->Stop(left()) && ended;
    }
    return ended;
}

}  // namespace orv::sim
