#include "frontend/CommandLine.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/Console.h"

namespace {

const std::string kUsage =
    "OrvFlashPuc - CAN boot loader programming tool TYL 4.5.0.1178\n"
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
    "  Currently supporting NI CAN card\n";

struct Parsed {
    bool result;
    std::string output;
    RunSettings settings;
    std::vector<std::string> argsAfter;  // argv as the parse left it
};

Parsed Parse(const std::vector<std::string>& args) {
    std::vector<std::string> storage = {"OrvFlashPuc"};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : storage)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    orv::ConsoleCapture capture;
    Parsed parsed;
    parsed.result = ParseArguments(parsed.settings, static_cast<int>(storage.size()), argv.data());
    parsed.output = capture.Text();
    for (size_t i = 1; i < storage.size(); ++i)
        parsed.argsAfter.push_back(argv[i]);
    return parsed;
}

void ExpectSameSettings(const RunSettings& actual, const RunSettings& expected) {
    EXPECT_EQ(std::vector<int>(actual.ipAddress, actual.ipAddress + 4),
              std::vector<int>(expected.ipAddress, expected.ipAddress + 4));
    EXPECT_EQ(actual.port, expected.port);
    EXPECT_EQ(actual.busId, expected.busId);
    EXPECT_EQ(actual.nodeId, expected.nodeId);
    EXPECT_STREQ(actual.hexFileName, expected.hexFileName);
    EXPECT_EQ(actual.mode, expected.mode);
    EXPECT_EQ(actual.command, expected.command);
    EXPECT_EQ(actual.applNodeId, expected.applNodeId);
    EXPECT_EQ(actual.newNodeId, expected.newNodeId);
    EXPECT_STREQ(actual.canCardName, expected.canCardName);
    EXPECT_EQ(actual.useCanCard, expected.useCanCard);
    EXPECT_TRUE(actual.routeLeft == expected.routeLeft);
    EXPECT_TRUE(actual.routeRight == expected.routeRight);
}

using Expect = std::function<void(RunSettings&)>;

void Gateway(RunSettings& s, uint8_t a, uint8_t b, uint8_t c, uint8_t d, int32_t port) {
    s.ipAddress[0] = a;
    s.ipAddress[1] = b;
    s.ipAddress[2] = c;
    s.ipAddress[3] = d;
    s.port = port;
}

Expect Scan(Expect transport) {
    return [transport](RunSettings& s) {
        transport(s);
        s.mode = MODE_PUC;
        s.command = CMD_SCAN;
    };
}

Expect Ccb(uint8_t host, int32_t port) {
    return Scan([=](RunSettings& s) { Gateway(s, 192, 168, 100, host, port); });
}

// On CCB15, for the command cases.
Expect Command(int mode, int command, int32_t nodeId, std::string file = "",
               std::function<void(RunSettings&)> more = {}) {
    return [=](RunSettings& s) {
        Gateway(s, 192, 168, 100, 25, 16506);
        s.mode = mode;
        s.command = command;
        s.nodeId = nodeId;
        std::snprintf(s.hexFileName, sizeof s.hexFileName, "%s", file.c_str());
        if (more)
            more(s);
    };
}

struct ParseCase {
    std::vector<std::string> args;
    std::string output;
    Expect expect;  // empty: the parse fails
};

const std::string kFirstBad = "Error: First input argument not good\n";
const std::string kFirstShort = "Error: The first input argument not good\n";
const std::string kBadNode = "Error: Bad NodeID\n";
const std::string kBadAppl = "Error: Bad application NodeID\n";
const std::string kBadFile = "Error: Bad HEX file name\n";

std::vector<ParseCase> Cases() {
    const std::string name259(259, 'f');
    const std::string name260(260, 'f');
    return {
        // Help and too few arguments.
        {{}, kUsage, {}},
        {{"ccb0", "0"}, kUsage, {}},
        {{"-h", "0", "scan"}, kUsage, {}},
        {{"-H", "0", "scan"}, kUsage, {}},
        {{"-?", "0", "scan"}, kUsage, {}},
        {{"-help", "0", "scan"}, kUsage, {}},
        // The transport.
        {{"-x", "0", "scan"}, kFirstBad, {}},
        {{"-", "0", "scan"}, kFirstBad, {}},
        {{"CCB", "0", "scan"}, kFirstShort, {}},
        {{"a:b", "0", "scan"}, kFirstShort, {}},
        {{"CCB16", "0", "scan"}, kFirstBad, {}},
        {{"CCB01", "0", "scan"}, kFirstBad, {}},
        {{"noroute", "0", "scan"}, kFirstBad, {}},
        {{":ORVCAN", "0", "scan"}, kFirstBad, {}},
        {{"Ethernet2CAN:", "0", "scan"}, kFirstBad, {}},
        {{"ccb0", "0", "scan"}, "", Ccb(10, 15006)},
        {{"CcB7", "0", "scan"}, "", Ccb(17, 15706)},
        {{"ccb15", "0", "scan"}, "", Ccb(25, 16506)},
        {{"hpcright", "0", "scan"}, "", Ccb(40, 17706)},
        {{"HPCLEFT", "0", "scan"}, "", Ccb(41, 17806)},
        {{"nican", "0", "scan"}, "", Scan([](RunSettings& s) {
             std::snprintf(s.canCardName, sizeof s.canCardName, "CAN0");
             s.useCanCard = 1;
         })},
        {{"UsbLight", "0", "scan"}, "", Scan([](RunSettings& s) {
             std::snprintf(s.canCardName, sizeof s.canCardName, "CAN1");
             s.useCanCard = 1;
         })},
        {{"10.0.0.1:15106", "0", "scan"}, "", Scan([](RunSettings& s) {
             Gateway(s, 10, 0, 0, 1, 15106);
         })},
        {{"10.0.0.1:15000", "0", "scan"},
         "Assuming CAN socket number = 15006\n",
         Scan([](RunSettings& s) { Gateway(s, 10, 0, 0, 1, 15006); })},
        {{"10.0.0.1:0", "0", "scan"}, "Assuming CAN socket number = 6\n", Scan([](RunSettings& s) {
             Gateway(s, 10, 0, 0, 1, 6);
         })},
        {{"300.1.2.3:15107", "0", "scan"}, "", Scan([](RunSettings& s) {
             Gateway(s, 44, 1, 2, 3, 15107);
         })},
        {{"Ethernet2CAN:ORVCAN Application", "0", "scan"}, "", Scan([](RunSettings& s) {
             s.routeLeft = L"Ethernet2CAN";
             s.routeRight = L"ORVCAN Application";
         })},
        {{"e2c:left:right", "0", "scan"}, "", Scan([](RunSettings& s) {
             s.routeLeft = L"e2c";
             s.routeRight = L"left:right";
         })},
        // A numeric form that misses its port is taken as a route.
        {{"10.0.0.1:abc", "0", "scan"}, "", Scan([](RunSettings& s) {
             s.routeLeft = L"10.0.0.1";
             s.routeRight = L"abc";
         })},
        // BusID.
        {{"ccb15", "", "scan"}, "Error: Bad BusID\n", {}},
        {{"ccb15", "x", "scan"}, "Error: Bad BusID\n", {}},
        {{"ccb15", "0x1F", "scan"},
         "",
         [](RunSettings& s) {
             Ccb(25, 16506)(s);
             s.busId = 31;
         }},
        {{"ccb15", "-3", "scan"},
         "",
         [](RunSettings& s) {
             Ccb(25, 16506)(s);
             s.busId = -3;
         }},
        {{"ccb15", "12abc", "scan"},
         "",
         [](RunSettings& s) {
             Ccb(25, 16506)(s);
             s.busId = 12;
         }},
        // Keywords.
        {{"ccb15", "0", "flash", "12"}, "Error: Unknown command!\n", {}},
        {{"ccb15", "0", "dnlpuc", "12", "a.hex"}, "", Command(MODE_PUC, CMD_DOWNLOAD, 12, "a.hex")},
        {{"ccb15", "0", "DnlHt", "12", "a.hex", "31"},
         "",
         Command(MODE_HT, CMD_DOWNLOAD, 12, "a.hex")},
        {{"ccb15", "0", "DnlHtpdo", "12", "list.txt"},
         "",
         Command(MODE_HT_PDO, CMD_DOWNLOAD, 12, "list.txt")},
        {{"ccb15", "0", "VerPuc", "12", "a.hex", "x"},
         "",
         Command(MODE_PUC, CMD_VERIFY, 12, "a.hex")},
        {{"ccb15", "0", "ToBoot", "16"}, "", Command(MODE_PUC, CMD_TO_BOOT, 16)},
        {{"ccb15", "0", "ToBoot"}, "", Command(MODE_PUC, CMD_TO_BOOT, 0)},
        {{"ccb15", "0", "GetInfoPUC", "19", "ignored"}, "", Command(MODE_PUC, CMD_GET_INFO, 19)},
        {{"ccb15", "0", "ToApp", "19"}, "", Command(MODE_PUC, CMD_TO_APP, 19)},
        {{"ccb15", "0", "Identify", "5", "list.txt"},
         "",
         Command(MODE_HT_PDO, CMD_IDENTIFY, 5, "list.txt")},
        {{"ccb15", "0", "Scan", "abc", "0x999"}, "", Ccb(25, 16506)},
        // File names.
        {{"ccb15", "0", "DnlPUC", "12"}, "Bad filename!\n", {}},
        {{"ccb15", "0", "VerPUC", "abc"}, "Bad filename!\n", {}},
        {{"ccb15", "0", "Identify"}, "Bad filename!\n", {}},
        {{"ccb15", "0", "DnlPUC", "12", ""}, kBadFile, {}},
        {{"ccb15", "0", "DnlHTpdo", "12", ""}, kBadFile, {}},
        {{"ccb15", "0", "DnlPUC", "12", name260}, kBadFile, {}},
        {{"ccb15", "0", "DnlPUC", "12", name259}, "", Command(MODE_PUC, CMD_DOWNLOAD, 12, name259)},
        {{"ccb15", "0", "DnlPUC", "abc", ""}, kBadNode, {}},
        // Node IDs: only an upper bound.
        {{"ccb15", "0", "ToApp", "0x80"}, "Error: Bad NodeID 0x80\n", {}},
        {{"ccb15", "0", "ToApp", "128"}, "Error: Bad NodeID 0x80\n", {}},
        {{"ccb15", "0", "ToApp", "0x7f"}, "", Command(MODE_PUC, CMD_TO_APP, 127)},
        {{"ccb15", "0", "ToApp", "127"}, "", Command(MODE_PUC, CMD_TO_APP, 127)},
        {{"ccb15", "0", "ToApp", "0X10"}, "", Command(MODE_PUC, CMD_TO_APP, 16)},
        {{"ccb15", "0", "ToApp", "-5"}, "", Command(MODE_PUC, CMD_TO_APP, -5)},
        {{"ccb15", "0", "ToApp", "0"}, "", Command(MODE_PUC, CMD_TO_APP, 0)},
        {{"ccb15", "0", "ToApp", "abc"}, kBadNode, {}},
        {{"ccb15", "0", "ToApp", ""}, kBadNode, {}},
        {{"ccb15", "0", "ToApp", "0xFFFFFFFF"}, "", Command(MODE_PUC, CMD_TO_APP, -1)},
        {{"ccb15", "0", "SetIdPUC", "12", "0x20"},
         "",
         Command(MODE_PUC, CMD_SET_ID, 12, "", [](RunSettings& s) { s.newNodeId = 32; })},
        {{"ccb15", "0", "SetIdPUC", "12", "200"}, "Error: Bad NodeID 0xC8\n", {}},
        {{"ccb15", "0", "SetIdPUC", "200", "12"}, "Error: Bad NodeID 0xC8\n", {}},
        {{"ccb15", "0", "SetIdPUC", "12", "x"}, kBadNode, {}},
        {{"ccb15", "0", "SetIdPUC", "12"}, kBadNode, {}},
        // The application's node ID, read for DnlPUC only.
        {{"ccb15", "0", "DnlPUC", "12", "a.hex", "31", "extra"},
         "",
         Command(MODE_PUC, CMD_DOWNLOAD, 12, "a.hex", [](RunSettings& s) { s.applNodeId = 31; })},
        {{"ccb15", "0", "DnlPUC", "12", "a.hex", "0x7F"},
         "",
         Command(MODE_PUC, CMD_DOWNLOAD, 12, "a.hex", [](RunSettings& s) { s.applNodeId = 127; })},
        {{"ccb15", "0", "DnlPUC", "12", "a.hex", "128"}, kBadAppl, {}},
        {{"ccb15", "0", "DnlPUC", "12", "a.hex", "x"}, kBadAppl, {}},
        {{"ccb15", "0", "DnlPUC", "12", "a.hex", ""}, kBadAppl, {}},
    };
}

TEST(ParseArguments, OutputResultAndSettings) {
    for (const ParseCase& c : Cases()) {
        std::string trace;
        for (const std::string& arg : c.args)
            trace += "[" + arg.substr(0, 20) + "] ";
        SCOPED_TRACE(trace);
        const Parsed parsed = Parse(c.args);
        EXPECT_EQ(parsed.output, c.output);
        EXPECT_EQ(parsed.result, static_cast<bool>(c.expect));
        if (c.expect) {
            RunSettings expected;
            c.expect(expected);
            ExpectSameSettings(parsed.settings, expected);
        }
    }
}

TEST(ParseArguments, UpperCasesTransportAndKeywordInPlace) {
    const Parsed parsed = Parse({"Ethernet2CAN:orv", "0x0", "dnlpuc", "12", "Test1.hex", "31"});
    ASSERT_TRUE(parsed.result);
    EXPECT_EQ(parsed.argsAfter, (std::vector<std::string>{"ETHERNET2CAN:ORV", "0x0", "DNLPUC", "12",
                                                          "Test1.hex", "31"}));
    EXPECT_TRUE(parsed.settings.routeRight == L"orv");
}

TEST(ParseArguments, ResetsTheCardFieldsOfAnEarlierParse) {
    RunSettings settings;
    settings.useCanCard = 1;
    settings.applNodeId = 9;
    std::snprintf(settings.canCardName, sizeof settings.canCardName, "CAN0");
    std::string args[] = {"OrvFlashPuc", "ccb1", "0", "ToApp", "3"};
    char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(), args[4].data()};
    orv::ConsoleCapture capture;
    ASSERT_TRUE(ParseArguments(settings, 5, argv));
    EXPECT_EQ(settings.useCanCard, 0);
    EXPECT_EQ(settings.applNodeId, 0);
    EXPECT_STREQ(settings.canCardName, "");
}

TEST(PrintUsage, PrintsTheWholeText) {
    orv::ConsoleCapture capture;
    PrintUsage();
    EXPECT_EQ(capture.Text(), kUsage);
}

TEST(ParseNumber, Rules) {
    struct Case {
        const char* text;
        int result;
        int32_t value;  // starts at 77
    };
    const Case cases[] = {
        {nullptr, 0, 77}, {"", -1, 77},    {"12", 0, 12},  {"12abc", 0, 12},
        {" 7", 0, 7},     {"-12", 0, -12}, {"+5", 0, 5},   {"abc", -1, 77},
        {"0x1A", 0, 26},  {"0X1a", 0, 26}, {"0x", 0, 0},   {"0x80000000", 0, INT32_MIN},
        {"0b1", 0, 0},    {"x12", -1, 77}, {"012", 0, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text == nullptr ? "(null)" : c.text);
        int32_t value = 77;
        EXPECT_EQ(ParseNumber(c.text, value), c.result);
        EXPECT_EQ(value, c.value);
    }
}

TEST(StrToUpper, ChangesLettersOnly) {
    char text[] = "ccb15:Orv can-1 \xe4";
    StrToUpper(text);
    EXPECT_STREQ(text, "CCB15:ORV CAN-1 \xe4");
}

}  // namespace
