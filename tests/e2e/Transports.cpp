#include "Transports.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

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
    };
}

// The same transport, the tool being the Windows build run by Wine against our simulator. The
// card libraries sit beside the .exe, where Windows looks first; files are named the Windows
// way, with a drive letter and the separator given (Windows takes both).
Transport OnWindows(Transport transport, char separator) {
    const std::string exe = std::string(ORV_WINDOWS_BUILD_DIR) + "/OrvFlashPuc.exe";
    transport.name = "Windows" + transport.name;
    transport.program = exe;
    transport.launcher = {ORV_WINE};
    transport.crlfLineEnds = true;
    transport.unavailable = [exe] {
        if (!std::filesystem::exists(exe))
            return "no Windows build at " + exe + " (scripts/build.sh windows)";
        return std::filesystem::exists(ORV_WINE) ? std::string() : "no Wine at " ORV_WINE;
    };
    const auto linuxEnvironment = transport.environment;
    transport.environment = [linuxEnvironment](const SimProcess& sim) {
        Environment env = linuxEnvironment ? linuxEnvironment(sim) : Environment{};
        env.insert(env.end(),
                   {{"WINEPREFIX", ORV_WINE_PREFIX}, {"WINEDEBUG", "-all"}, {"DISPLAY", ""}});
        return env;
    };
    transport.toolPath = [separator](const std::string& path) {
        std::string windows = "Z:" + path;
        std::replace(windows.begin(), windows.end(), '/', separator);
        return windows;
    };
    return transport;
}

}  // namespace

std::string CrLfAsLineEnd(const std::string& text) {
    std::string lines;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            ADD_FAILURE() << "a bare LF at offset " << i << " of:\n" << text;
        lines += text[i];
    }
    return lines;
}

const std::vector<Transport>& AllTransports() {
    static const std::vector<Transport> transports = [] {
        std::vector<Transport> linux = {
            {
                .name = "TcpGateway",
                .simArgs = {"--gateway", "0:0"},
                .firstArgument =
                    [](const SimProcess& sim) {
                        return "127.0.0.1:" + std::to_string(sim.GatewayPort(0));
                    },
                // The tool takes a port that is a multiple of 100 for a board number.
                .usable = [](const SimProcess& sim) { return sim.GatewayPort(0) % 100 != 0; },
                .announcement = "TCP/IP (CCB based communication)\n",
            },
            {
                .name = "Ethernet2Can",
                .simArgs = {"--bridge", "0"},
                .firstArgument =
                    [](const SimProcess& sim) {
                        return "Ethernet2CAN:127.0.0.1:" + std::to_string(sim.BridgePort()) +
                               "/can0";
                    },
                .announcement = "TCP/IP (SCU based communication)\n",
            },
            CardTransport("NiCanCard", "NICAN"),
            CardTransport("UsbCanAdapter", "USBLIGHT"),
        };
        std::vector<Transport> all = linux;
        // The gateway row names files with slashes, the others with backslashes.
        for (const Transport& transport : linux)
            all.push_back(OnWindows(transport, transport.name == "TcpGateway" ? '/' : '\\'));
        return all;
    }();
    return transports;
}

}  // namespace orv::test
