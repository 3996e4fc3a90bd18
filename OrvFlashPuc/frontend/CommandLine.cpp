#include "frontend/CommandLine.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "os/Console.h"
#include "protocol/ToolIdentity.h"
#include "text/AnsiText.h"

namespace orv {

namespace {

constexpr const char* kNotice = "CAN boot loader programming tool";

// The gateway boards sit in one private subnet: CCB0..CCB15 at .10 to .25, the two HPC
// gateways at .40 and .41.
constexpr uint8_t kGatewaySubnet[3] = {192, 168, 100};
constexpr uint8_t kFirstCcbHost = 10;
constexpr int kCcbCount = 16;
constexpr int kFirstCcbPort = 15006;
constexpr int kCcbPortStep = 100;

struct NamedTransport {
    const char* name;
    uint8_t host;      // last octet; 0 = no address (a PC card)
    int32_t port;      // 0 = no port (a PC card)
    const char* card;  // channel name of a PC card, or null
};

constexpr NamedTransport kOtherTransports[] = {
    {"HPCRIGHT", 40, 17706, nullptr},
    {"HPCLEFT", 41, 17806, nullptr},
    {"NICAN", 0, 0, "CAN0"},
    {"USBLIGHT", 0, 0, "CAN1"},
};

enum class FileArgument { kNone, kRequired, kNewNodeId };

struct Keyword {
    const char* text;
    TargetMode mode;
    CommandCode command;
    FileArgument position5;
    bool readsApplNodeId = false;  // position 6
};

constexpr Keyword kKeywords[] = {
    {"DNLPUC", MODE_PUC, CMD_DOWNLOAD, FileArgument::kRequired, true},
    {"DNLHT", MODE_HT, CMD_DOWNLOAD, FileArgument::kRequired},
    {"DNLHTPDO", MODE_HT_PDO, CMD_DOWNLOAD, FileArgument::kRequired},
    {"VERPUC", MODE_PUC, CMD_VERIFY, FileArgument::kRequired},
    {"TOBOOT", MODE_PUC, CMD_TO_BOOT, FileArgument::kNone},
    {"GETINFOPUC", MODE_PUC, CMD_GET_INFO, FileArgument::kNone},
    {"TOAPP", MODE_PUC, CMD_TO_APP, FileArgument::kNone},
    {"SCAN", MODE_PUC, CMD_SCAN, FileArgument::kNone},
    {"SETIDPUC", MODE_PUC, CMD_SET_ID, FileArgument::kNewNodeId},
    {"IDENTIFY", MODE_HT_PDO, CMD_IDENTIFY, FileArgument::kRequired},
};

constexpr int32_t kMaxNodeId = 0x7F;

bool Reject(const char* message) {
    ConsolePrintf("%s", message);
    ConsoleFlush();
    return false;
}

bool RejectNodeIdAbove(int32_t value) {
    ConsolePrintf("Error: Bad NodeID 0x%X\n", static_cast<unsigned>(value));
    ConsoleFlush();
    return false;
}

void SetAddress(RunSettings& settings, uint8_t host, int32_t port) {
    std::memcpy(settings.ipAddress, kGatewaySubnet, sizeof kGatewaySubnet);
    settings.ipAddress[3] = host;
    settings.port = port;
}

// Sets the fields of a fixed transport name; false when the text names none.
bool SelectNamedTransport(RunSettings& settings, const char* name) {
    for (int board = 0; board < kCcbCount; ++board) {
        if (std::string("CCB") + std::to_string(board) == name) {
            SetAddress(settings, static_cast<uint8_t>(kFirstCcbHost + board),
                       kFirstCcbPort + kCcbPortStep * board);
            return true;
        }
    }
    for (const NamedTransport& transport : kOtherTransports) {
        if (std::strcmp(transport.name, name) != 0) {
            continue;
        }
        if (transport.card != nullptr) {
            std::snprintf(settings.canCardName, sizeof settings.canCardName, "%s", transport.card);
            settings.useCanCard = 1;
        } else {
            SetAddress(settings, transport.host, transport.port);
        }
        return true;
    }
    return false;
}

// "a.b.c.d:port"; true when all five numbers convert.
bool SelectNumericAddress(RunSettings& settings, const char* text) {
    int octets[4] = {};
    int port = 0;
    if (std::sscanf(text, "%3d.%3d.%3d.%3d:%5d", &octets[0], &octets[1], &octets[2], &octets[3],
                    &port) != 5) {
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        settings.ipAddress[i] = static_cast<uint8_t>(octets[i]);
    }
    settings.port = port;
    return true;
}

// Splits a route name at its first colon; both halves must be non-empty.
bool SelectNamedRoute(RunSettings& settings, const std::string& asTyped) {
    const size_t colon = asTyped.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == asTyped.size()) {
        return false;
    }
    settings.routeLeft = WidenAnsi(asTyped.substr(0, colon));
    settings.routeRight = WidenAnsi(asTyped.substr(colon + 1));
    return true;
}

const Keyword* FindKeyword(const char* text) {
    for (const Keyword& keyword : kKeywords) {
        if (std::strcmp(keyword.text, text) == 0) {
            return &keyword;
        }
    }
    return nullptr;
}

const char* ArgumentAt(int argc, char** argv, int position) {
    return position < argc ? argv[position] : nullptr;
}

}  // namespace

void StrToUpper(char* text) {
    for (; *text != '\0'; ++text) {
        *text = static_cast<char>(std::toupper(static_cast<unsigned char>(*text)));
    }
}

int ParseNumber(const char* text, int32_t& value) {
    if (text == nullptr) {
        return 0;
    }
    if (text[0] == '\0') {
        return -1;
    }
    const bool hex = std::strlen(text) >= 3 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    int converted = 0;
    if (hex) {
        unsigned int number = 0;
        converted = std::sscanf(text, "%x", &number);
        if (converted == 1) {
            value = static_cast<int32_t>(number);
        }
    } else {
        int number = 0;
        converted = std::sscanf(text, "%d", &number);
        if (converted == 1) {
            value = number;
        }
    }
    return converted == 1 ? 0 : -1;
}

// Longer than most functions: the usage text is kept whole, line for line as it prints.
void PrintUsage() {
    ConsolePrintf("OrvFlashPuc - %s %s %s\n", kNotice, kPlatformName, kToolVersion);
    ConsolePrintf(
        "Usage: OrvFlashPuc <comm_board> |  <BusID> <command>\n"
        "<comm_board> =  <BusID> <command>\n"
        "\nCommandlist:\n"
        "  DnlPUC <NodeID> <HexFileName> [ApplNodeId]\n"
        "  DnlHT <NodeID> <HexFileName>\n"
        "  DnlHTpdo <NodeID> <HexFileName>\n"
        "  VerPUC <NodeID> <HexFileName>\n"
        "  ToBoot <ApplNodeId>\n"
        "  GetInfoPUC <NodeID>\n"
        "  ToApp <NodeID>\n"
        "  Scan\n"
        "  SetIdPUC <CurrentNodeID> <NewNodeID>\n"
        "\nExplanation\n"
        "  comm_board = ethernet_board | pc_board\n"
        "  ethernet_board = CCB0, CCB1, ... CCBn or IPNumumber:SocketNumber\n"
        "  pc_board = NICAN, USBLIGHT\n"
        "  BusID = 0 (Other numbers are for future use)\n"
        "  NodeID = Number between 2 and 0x7F, CAN node ID in the BOOT mode\n"
        "  HexFileName = full name of the INTEL format HEX file with program\n"
        "  ApplNodeId = Number between 2 and 0x7F, CAN node ID of the Application code\n"
        "\nExamples:\n"
        "  OrvFlashPuc 192.168.100.10:15006 0 DnlPuc 12 test1.hex\n"
        "  OrvFlashPuc \"Ethernet2CAN:ORVCAN Application\" 0 DnlPuc 12 test1.hex\n"
        "  OrvFlashPuc ccb15    0 DnlPuc 12 test1.hex\n"
        "  OrvFlashPuc nican    0 DnlPuc 12 test1.hex\n"
        "  OrvFlashPuc ccb15    0 DnlPuc 12 test1.hex  31\n"
        "  OrvFlashPuc ccb15    0 VerPuc 12 test1.hex\n"
        "  OrvFlashPuc ccb15    0 DnlHt  12 test1.hex\n"
        "  OrvFlashPuc ccb15    0 DnlHtpdo 12 test1.hex\n"
        "  OrvFlashPuc ccb15    0 ToBoot 16\n"
        "  OrvFlashPuc nican    0 GetInfoPUC 19\n"
        "  OrvFlashPuc usblight 0 GetInfoPUC 19\n"
        "  OrvFlashPuc ccb15    0 ToApp 19\n"
        "  OrvFlashPuc ccb15    0 Scan\n"
        "\nNote:\n"
        "  It is possible that running PUC application uses different CAN ID than BOOT code\n"
        "  Currently supporting NI CAN card\n");
}

namespace {

// The first argument: a named transport, a numeric address or a named route.
bool ParseTransport(RunSettings& settings, char* argument) {
    const std::string transportAsTyped = argument;
    StrToUpper(argument);
    const char* transport = argument;
    if (transport[0] == '-') {
        if (transport[1] == 'H' || transport[1] == '?') {
            PrintUsage();
            return false;
        }
        return Reject("Error: First input argument not good\n");
    }
    if (std::strlen(transport) < 4) {
        return Reject("Error: The first input argument not good\n");
    }
    bool portFromArgument = false;
    if (!SelectNamedTransport(settings, transport)) {
        portFromArgument = SelectNumericAddress(settings, transport);
        if (!portFromArgument && !SelectNamedRoute(settings, transportAsTyped)) {
            return Reject("Error: First input argument not good\n");
        }
    }
    // Gateways listen on a port ending in 06; a round port number means that one was meant.
    if (portFromArgument && settings.port % 100 == 0) {
        settings.port += 6;
        ConsolePrintf("Assuming CAN socket number = %d\n", settings.port);
        ConsoleFlush();
    }
    return true;
}

// The node ID and what the keyword takes after it: a new node ID, or the file name (already
// read) and an application node ID.
bool ParseNodeArguments(RunSettings& settings, const Keyword& keyword, const char* fileName,
                        int argc, char** argv) {
    if (ParseNumber(ArgumentAt(argc, argv, 4), settings.nodeId) != 0) {
        return Reject("Error: Bad NodeID\n");
    }
    if (settings.nodeId > kMaxNodeId) {
        return RejectNodeIdAbove(settings.nodeId);
    }
    if (keyword.position5 == FileArgument::kNewNodeId) {
        const char* newNodeId = ArgumentAt(argc, argv, 5);
        if (newNodeId == nullptr || ParseNumber(newNodeId, settings.newNodeId) != 0) {
            return Reject("Error: Bad NodeID\n");
        }
        return settings.newNodeId > kMaxNodeId ? RejectNodeIdAbove(settings.newNodeId) : true;
    }
    if (fileName == nullptr) {
        return true;
    }
    // A name the record cannot hold whole is refused rather than cut short.
    if (fileName[0] == '\0' || std::strlen(fileName) >= sizeof settings.hexFileName) {
        return Reject("Error: Bad HEX file name\n");
    }
    const char* applNodeId = ArgumentAt(argc, argv, 6);
    if (keyword.readsApplNodeId && applNodeId != nullptr) {
        if (ParseNumber(applNodeId, settings.applNodeId) != 0 || settings.applNodeId > kMaxNodeId) {
            return Reject("Error: Bad application NodeID\n");
        }
    }
    return true;
}

}  // namespace

bool ParseArguments(RunSettings& settings, int argc, char** argv) {
    if (argc < 4) {
        PrintUsage();
        return false;
    }
    settings.applNodeId = 0;
    settings.useCanCard = 0;
    settings.canCardName[0] = '\0';
    if (!ParseTransport(settings, argv[1])) {
        return false;
    }
    if (ParseNumber(argv[2], settings.busId) != 0) {
        return Reject("Error: Bad BusID\n");
    }
    StrToUpper(argv[3]);
    const Keyword* keyword = FindKeyword(argv[3]);
    if (keyword == nullptr) {
        return Reject("Error: Unknown command!\n");
    }
    settings.mode = keyword->mode;
    settings.command = keyword->command;
    const char* fileName = nullptr;
    if (keyword->position5 == FileArgument::kRequired) {
        fileName = ArgumentAt(argc, argv, 5);
        if (fileName == nullptr) {
            return Reject("Bad filename!\n");
        }
        std::snprintf(settings.hexFileName, sizeof settings.hexFileName, "%s", fileName);
    }
    if (keyword->command == CMD_SCAN) {
        return true;
    }
    return ParseNodeArguments(settings, *keyword, fileName, argc, argv);
}

}  // namespace orv
