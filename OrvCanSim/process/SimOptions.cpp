#include "OrvCanSim/process/SimOptions.h"

#include <CLI/CLI.hpp>

#include "OrvCanSim/process/ScenarioFile.h"

namespace orv::sim {
namespace {

constexpr int kLargestGatewayBoard = 99;

constexpr const char* kDescription =
    "OrvCanSim: a simulated instrument. One virtual CAN bus with boot-loader boards on it, "
    "reached through CAN gateway boards on TCP and a socketcand bridge.\n"
    "Prints 'LISTEN gateway N PORT' and 'LISTEN bridge PORT' for each listener, then 'READY', "
    "on standard output; logs what it does on standard error; ends on SIGINT or SIGTERM.";

constexpr const char* kBoardOptions =
    "Board options after the ID, comma-separated: boot=N (boot loader node ID; default ID; a "
    "PUC's soft CAN ID 1..127 overrides it), mode=app|boot (start in the application or the "
    "boot loader), version=XXXX (boot code version; PUC 3100, HT 2100), hwid=N (hardware ID), "
    "ident=TEXT (HT identification text, up to 7 characters; empty: answer like a PUC), "
    "hex=FILE (initial flash), silent (never answers), stuck-busy (busy bits never clear), "
    "status-error=CODE:BYTE (report status byte BYTE once the frame of gateway command CODE "
    "arrives; repeatable).\nsim/BOARDS.md describes every frame the boards take and give.";

std::string ParseGateway(const std::string& text, GatewaySpec& gateway) {
    const size_t colon = text.find(':');
    try {
        size_t used = 0;
        const int board = std::stoi(text.substr(0, colon), &used);
        if (used != colon && colon != std::string::npos) {
            return "bad gateway '" + text + "'";
        }
        if (board < 0 || board > kLargestGatewayBoard) {
            return "gateway board numbers run from 0 to " + std::to_string(kLargestGatewayBoard);
        }
        gateway.board = board;
        gateway.port = DefaultGatewayPort(board);
        if (colon != std::string::npos) {
            const int port = std::stoi(text.substr(colon + 1), &used);
            if (used != text.size() - colon - 1 || port < 0 || port > 65535) {
                return "bad gateway port in '" + text + "'";
            }
            gateway.port = static_cast<uint16_t>(port);
        }
    } catch (const std::exception&) {
        return "bad gateway '" + text + "'; wants N[:PORT]";
    }
    return "";
}

}  // namespace

std::optional<int> ParseSimOptions(int argc, const char* const* argv, SimOptions& options) {
    CLI::App app(kDescription, "OrvCanSim");
    app.footer(kBoardOptions);
    app.config_formatter(std::make_shared<ScenarioFile>());
    app.allow_config_extras(CLI::config_extras_mode::error);
    app.set_config("--scenario", "", "JSON file: an object of these options by their long names")
        ->type_name("FILE.json");

    std::vector<std::string> pucs;
    std::vector<std::string> hts;
    std::vector<std::string> gateways;
    uint16_t bridgePort = 0;
    uint64_t seed = 0;
    app.add_option("--puc", pucs, "Add a PUC board whose application node ID is ID")
        ->type_name("ID[,OPT...]");
    app.add_option("--ht", hts, "Add an HT board whose application node ID is ID")
        ->type_name("ID[,OPT...]");
    app.add_option("--gateway", gateways,
                   "Add CAN gateway board N on PORT (default 15006 + 100 x N; 0: a free port)")
        ->type_name("N[:PORT]");
    CLI::Option* bridge =
        app.add_option(
               "--bridge", bridgePort,
               "Run the socketcand bridge on PORT (0: a free port; socketcand's own is 29536)")
            ->type_name("PORT");
    app.add_option("--channel", options.channel, "The bridge's channel name (default can0)")
        ->type_name("NAME");
    app.add_option("--bind", options.bindAddress, "Listen on this IPv4 address (default 127.0.0.1)")
        ->type_name("ADDR");
    app.add_option("--bitrate", options.bitrate,
                   "Pace the bus at BPS bits per second, stuff bits included (0: unpaced)")
        ->type_name("BPS");
    app.add_option("--loss", options.lossRate, "Lose this share of frames (0..1)")
        ->type_name("RATE")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--reply-delay", options.replyDelayMs, "Delay every board answer by MS")
        ->type_name("MS");
    app.add_option("--close-after", options.closeAfter,
                   "A gateway closes each connection after N requests (0: never)")
        ->type_name("N");
    app.add_option("--idle-timeout", options.limits.idleMs,
                   "Close a connection that has had no traffic for MS (default 60000; a gateway "
                   "connection carrying out a command is never idle)")
        ->type_name("MS")
        ->check(CLI::Range(1U, 3600000U));
    app.add_option("--request-timeout", options.limits.requestMs,
                   "A gateway closes a connection whose request is not complete MS after its "
                   "first byte (default 10000)")
        ->type_name("MS")
        ->check(CLI::Range(1U, 3600000U));
    CLI::Option* seedOption =
        app.add_option("--seed", seed, "Seed of the frame losses: the same seed, the same run")
            ->type_name("N");
    app.add_option("--trace", options.tracePath, "Write every frame to FILE in candump log format")
        ->type_name("FILE");
    app.add_option("--pcap", options.pcapPath,
                   "Write every frame to FILE as a pcapng capture (SocketCAN link type) for "
                   "Wireshark")
        ->type_name("FILE");

    try {
        app.parse(argc, argv);
        for (const auto& [kind, descriptions] :
             {std::pair{BoardKind::Puc, &pucs}, {BoardKind::Ht, &hts}}) {
            for (const std::string& description : *descriptions) {
                BoardConfig config;
                const std::string error = ParseBoardDescription(kind, description, config);
                if (!error.empty()) {
                    throw CLI::ValidationError(kind == BoardKind::Puc ? "--puc" : "--ht", error);
                }
                options.boards.push_back(config);
            }
        }
        for (const std::string& text : gateways) {
            GatewaySpec gateway;
            const std::string error = ParseGateway(text, gateway);
            if (!error.empty()) {
                throw CLI::ValidationError("--gateway", error);
            }
            options.gateways.push_back(gateway);
        }
    } catch (const CLI::ParseError& error) {
        return app.exit(error);
    }
    if (bridge->count() > 0) {
        options.bridgePort = bridgePort;
    }
    if (seedOption->count() > 0) {
        options.seed = seed;
    }
    return std::nullopt;
}

}  // namespace orv::sim
