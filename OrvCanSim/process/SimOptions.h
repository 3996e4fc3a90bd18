#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "OrvCanSim/boards/BoardConfig.h"
#include "OrvCanSim/net/ConnectionActivity.h"

namespace orv::sim {

struct GatewaySpec {
    int board = 0;
    uint16_t port = 0;  // 0: a free port
};

// Everything the command line and the scenario file ask for.
struct SimOptions {
    std::vector<BoardConfig> boards;
    std::vector<GatewaySpec> gateways;
    std::optional<uint16_t> bridgePort;
    std::string channel = "can0";
    std::string bindAddress = "127.0.0.1";
    uint32_t bitrate = 0;
    double lossRate = 0.0;
    uint32_t replyDelayMs = 0;
    uint32_t closeAfter = 0;
    ConnectionLimits limits;
    std::optional<uint64_t> seed;
    std::string tracePath;
    std::string pcapPath;
};

// The well-known port of gateway board n.
constexpr uint16_t DefaultGatewayPort(int board) {
    return static_cast<uint16_t>(15006 + 100 * board);
}

// Parses the arguments (and the scenario file they name). Returns nullopt when the simulator
// should run; otherwise the exit code, after the help text or the error went to the console.
std::optional<int> ParseSimOptions(int argc, const char* const* argv, SimOptions& options);

}  // namespace orv::sim
