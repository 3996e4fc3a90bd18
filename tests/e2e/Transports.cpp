#include "Transports.h"

namespace orv::test {

const std::vector<Transport>& AllTransports() {
    static const std::vector<Transport> transports = {
        {
            .name = "TcpGateway",
            .simArgs = {"--gateway", "0:0"},
            .firstArgument =
                [](const SimProcess& sim) {
                    return "127.0.0.1:" + std::to_string(sim.GatewayPort(0));
                },
            // The tool takes a port that is a multiple of 100 for a board number.
            .usable = [](const SimProcess& sim) { return sim.GatewayPort(0) % 100 != 0; },
            .connectionCanBeCut = true,
        },
        {
            .name = "Ethernet2Can",
            .simArgs = {"--bridge", "0"},
            .firstArgument =
                [](const SimProcess& sim) {
                    return "Ethernet2CAN:127.0.0.1:" + std::to_string(sim.BridgePort()) + "/can0";
                },
        },
    };
    return transports;
}

}  // namespace orv::test
