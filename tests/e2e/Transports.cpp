#include "Transports.h"

#include "support/HexWriter.h"

namespace orv::test {
namespace {

// A CAN card in the PC: our driver library, found through the linker path, carries the frames
// to the simulator's bridge.
Transport CardTransport(const std::string& name, const std::string& card) {
    return {
        .name = name,
        .simArgs = {"--bridge", "0"},
        .firstArgument = [card](const SimProcess&) { return card; },
        .environment =
            [](const SimProcess& sim) {
                return Environment{
                    {"LD_LIBRARY_PATH", ORV_CARDLIBS_DIR},
                    {"ORV_CAN_LINK",
                     "socketcand:127.0.0.1:" + std::to_string(sim.BridgePort()) + "/can0"}};
            },
        .carriesRawFrames = false,
        .announcement = "CAN card based communication\n",
        .reopensAfterReset = false,
    };
}

}  // namespace

std::vector<uint8_t> Program(size_t count, uint8_t seed) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(seed ^ (i * 31 + i / 7));
    return bytes;
}

std::string WritePucProgram(const TempDir& dir) {
    HexWriter hex;
    hex.Bytes(0x5000, Program(2048, 0x11)).Bytes(0x12000, Program(2048, 0x22)).EndOfFile();
    hex.Save(dir.File("app.hex"));
    return dir.File("app.hex");
}

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
            .announcement = "TCP/IP (CCB based communication)\n",
        },
        {
            .name = "Ethernet2Can",
            .simArgs = {"--bridge", "0"},
            .firstArgument =
                [](const SimProcess& sim) {
                    return "Ethernet2CAN:127.0.0.1:" + std::to_string(sim.BridgePort()) + "/can0";
                },
            .announcement = "TCP/IP (SCU based communication)\n",
        },
        CardTransport("NiCanCard", "NICAN"),
        CardTransport("UsbCanAdapter", "USBLIGHT"),
    };
    return transports;
}

}  // namespace orv::test
