#include "frontend/CommandDriver.h"

#include <cstdint>

#include "frontend/CommandLine.h"
#include "frontend/DownloadFlows.h"
#include "frontend/ExitCodes.h"
#include "frontend/HardwareIdentification.h"
#include "os/Console.h"
#include "os/ProcessSetup.h"
#include "pccard/PcCommAdapter.h"
#include "protocol/PucDownloadProtocol.h"
#include "transport/E2CCommAdapter.h"
#include "transport/TcpCommAdapter.h"

namespace orv {

namespace {

// The commands that need no file: one protocol operation between an activity line and an
// optional result line.
struct ShortCommand {
    int command;
    bool pucOnly;
    const char* activity;
    bool identityNamesNode;
    bool (*operation)(CPucDownloadProtocol& protocol, const RunSettings& settings);
    const char* failureText;
    const char* successText;
};

const ShortCommand kShortCommands[] = {
    {CMD_TO_BOOT, false, "Please wait... going to BOOT mode\n", true,
     [](CPucDownloadProtocol& p, const RunSettings& s) {
         return p.GoToBootMode(static_cast<uint8_t>(s.nodeId));
     },
     nullptr, "Going to boot mode (for PUC) OK\n"},
    {CMD_GET_INFO, true, "Please wait... reading PUC INFO block\n", true,
     [](CPucDownloadProtocol& p, const RunSettings& s) {
         return p.GetPucInfo(static_cast<uint8_t>(s.nodeId));
     },
     "Getting PUC BOOT info failed!", nullptr},
    {CMD_TO_APP, false, "Please wait... jumping to application\n", true,
     [](CPucDownloadProtocol& p, const RunSettings& s) {
         return p.GoToApplication(static_cast<uint8_t>(s.nodeId));
     },
     "Jumping to application failed!", nullptr},
    {CMD_SCAN, false,
     "Please wait... scanning devices in BOOT mode (this can last about 60 seconds)\n", false,
     [](CPucDownloadProtocol& p, const RunSettings&) { return p.ScanBootNodes(); },
     "Scanning failed!", nullptr},
    {CMD_SET_ID, false, "Please wait... changing device BOOT CAN ID\n", false,
     [](CPucDownloadProtocol& p, const RunSettings& s) {
         return p.SetBootNodeId(static_cast<uint8_t>(s.newNodeId));
     },
     "CAN ID changing failed!", nullptr},
};

// Prints the text when there is one and flushes, so that it shows at once.
void Announce(const char* text) {
    if (text != nullptr)
        ConsolePrintf("%s", text);
    ConsoleFlush();
}

int EndWith(const char* text, int exitCode) {
    Announce(text);
    return exitCode;
}

int RunShortCommand(const ShortCommand& entry, const RunSettings& settings,
                    CCommAdapter& transport) {
    CPucDownloadProtocol protocol(&transport, nullptr, static_cast<uint32_t>(settings.nodeId),
                                  static_cast<uint32_t>(settings.mode));
    ConsolePrintf("%s", entry.activity);
    if (entry.identityNamesNode) {
        ConsolePrintf("BusId: %d NodeId: %d\n", settings.busId, settings.nodeId);
    } else {
        ConsolePrintf("BusId: %d\n", settings.busId);
    }
    ConsoleFlush();
    if (!entry.operation(protocol, settings))
        return EndWith(entry.failureText, kExitFailure);
    return EndWith(entry.successText, kExitSuccess);
}

int RunVerify(const RunSettings& settings, CCommAdapter& transport) {
    const std::unique_ptr<CProgramImage> image = LoadImage(settings, MODE_PUC, 0);
    if (!image->loaded)
        return kExitFailure;
    CPucDownloadProtocol protocol(&transport, image.get(), static_cast<uint32_t>(settings.nodeId),
                                  static_cast<uint32_t>(settings.mode));
    ConsolePrintf("Please wait... verifying\n");
    ConsolePrintf("BusId: %d NodeId: %d HexFileName: %s\n", settings.busId, settings.nodeId,
                  settings.hexFileName);
    ConsoleFlush();
    if (!protocol.VerifyPuc())
        return EndWith("Verify failed!", kExitFailure);
    return EndWith("Verify successful!\n", kExitSuccess);
}

std::unique_ptr<CCommAdapter> OpenGateway(const RunSettings& settings) {
    auto gateway = std::make_unique<CTcpCommAdapter>();
    switch (gateway->Connect(settings.ipAddress, settings.port)) {
        case CTcpCommAdapter::Connection::NoSockets:
            Announce("Can not initialize socket\n");
            return nullptr;
        case CTcpCommAdapter::Connection::Unreachable:
            Announce("Can not connect to CCB\n");
            return nullptr;
        case CTcpCommAdapter::Connection::Ready:
            break;
    }
    Announce("TCP/IP (CCB based communication)\n");
    return gateway;
}

}  // namespace

std::unique_ptr<CCommAdapter> OpenTransport(const RunSettings& settings) {
    if (settings.useCanCard == 0 && !settings.routeLeft.empty() && !settings.routeRight.empty()) {
        Announce("TCP/IP (SCU based communication)\n");
        return std::make_unique<CE2CCommAdapter>(settings.routeLeft, settings.routeRight);
    }
    if (settings.useCanCard == 0)
        return OpenGateway(settings);
    Announce("CAN card based communication\n");
    return std::make_unique<CPcCommAdapter>(settings.canCardName);
}

int DispatchCommand(RunSettings& settings, CCommAdapter& transport) {
    const bool puc = settings.mode == MODE_PUC;
    const bool htKind = settings.mode == MODE_HT || settings.mode == MODE_HT_PDO;
    if (htKind && settings.command == CMD_DOWNLOAD)
        return RunHtDownload(settings, transport);
    if (settings.mode == MODE_HT_PDO && settings.command == CMD_IDENTIFY) {
        return RunIdentify(settings, transport);
    }
    if (puc && settings.command == CMD_DOWNLOAD)
        return RunPucDownload(settings, transport);
    if (puc && settings.command == CMD_VERIFY)
        return RunVerify(settings, transport);
    for (const ShortCommand& entry : kShortCommands) {
        if (entry.command == settings.command && (puc || !entry.pucOnly)) {
            return RunShortCommand(entry, settings, transport);
        }
    }
    return EndWith("Error - unsupported protocol!", kExitFailure);
}

int RunCommandDriver(int argc, char** argv) {
    PrepareMainThread();
    RunSettings settings;
    if (!ParseArguments(settings, argc, argv))
        return kExitFailure;
    const std::unique_ptr<CCommAdapter> transport = OpenTransport(settings);
    if (!transport)
        return kExitFailure;
    return DispatchCommand(settings, *transport);
}

}  // namespace orv
