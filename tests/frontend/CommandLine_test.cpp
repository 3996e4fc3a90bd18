#include "frontend/CommandLine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "os/Console.h"

namespace {

// Every field of the settings, those still at their start value left out, in one line.
std::string Describe(const RunSettings& s) {
    const char* modes[] = {"HT", "PUC", "HTPDO"};
    std::ostringstream out;
    if (s.port != 0 || s.ipAddress[0] != 0)
        out << +s.ipAddress[0] << '.' << +s.ipAddress[1] << '.' << +s.ipAddress[2] << '.'
            << +s.ipAddress[3] << ':' << s.port << ' ';
    if (s.useCanCard != 0 || s.canCardName[0] != '\0')
        out << "card" << s.useCanCard << '=' << s.canCardName << ' ';
    if (!s.routeLeft.empty() || !s.routeRight.empty())
        out << std::string(s.routeLeft.begin(), s.routeLeft.end()) << '|'
            << std::string(s.routeRight.begin(), s.routeRight.end()) << ' ';
    out << (s.mode >= 0 && s.mode <= 2 ? modes[s.mode] : "mode?") << " cmd=" << s.command;
    for (const auto& [name, value] : {std::pair{" bus=", s.busId},
                                      {" node=", s.nodeId},
                                      {" appl=", s.applNodeId},
                                      {" new=", s.newNodeId}}) {
        if (value != 0)
            out << name << value;
    }
    if (s.hexFileName[0] != '\0')
        out << " file=" << s.hexFileName;
    return out.str();
}

// Parses the arguments (the program name first) into the settings given, as a program's argv
// that the parse may change; the output, and the settings in one line ("" when refused).
std::pair<std::string, std::string> Parse(std::vector<std::string>& args,
                                          RunSettings settings = {}) {
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    orv::ConsoleCapture capture;
    const bool parsed = ParseArguments(settings, static_cast<int>(args.size()), argv.data());
    return {capture.Text(), parsed ? Describe(settings) : ""};
}

struct ParseCase {
    std::vector<std::string> args;
    std::string output;
    std::string settings;  // empty: the parse fails
};

void ExpectParses(const std::vector<ParseCase>& cases, const std::vector<std::string>& before,
                  const std::string& settingsBefore) {
    for (const ParseCase& c : cases) {
        std::vector<std::string> args = {"OrvFlashPuc"};
        args.insert(args.end(), before.begin(), before.end());
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(testing::PrintToString(args).substr(0, 120));
        auto [output, settings] = Parse(args);
        // The usage text, a constant, by its first line and its last.
        if (output.starts_with("OrvFlashPuc - CAN boot loader programming tool TYL 4.5.0.1178\n"
                               "Usage: ") &&
            output.ends_with("\n  Currently supporting NI CAN card\n"))
            output = "usage";
        EXPECT_EQ(output, c.output);
        EXPECT_EQ(settings, c.settings.empty() ? "" : settingsBefore + c.settings);
    }
}

const std::string kFirstBad = "Error: First input argument not good\n";
const std::string kFirstShort = "Error: The first input argument not good\n";

// CMD_SCAN is 8.
TEST(ParseArguments, HelpTransportAndBusId) {
    ExpectParses(
        {
            {{}, "usage", ""},
            {{"ccb0", "0"}, "usage", ""},
            {{"-h", "0", "scan"}, "usage", ""},
            {{"-x", "0", "scan"}, kFirstBad, ""},
            {{"CCB", "0", "scan"}, kFirstShort, ""},
            {{"a:b", "0", "scan"}, kFirstShort, ""},
            {{"CCB16", "0", "scan"}, kFirstBad, ""},
            {{"noroute", "0", "scan"}, kFirstBad, ""},
            {{":ORVCAN", "0", "scan"}, kFirstBad, ""},
            {{"Ethernet2CAN:", "0", "scan"}, kFirstBad, ""},
            {{"ccb0", "0", "scan"}, "", "192.168.100.10:15006 PUC cmd=8"},
            {{"hpcright", "0", "scan"}, "", "192.168.100.40:17706 PUC cmd=8"},
            {{"nican", "0", "scan"}, "", "card1=CAN0 PUC cmd=8"},
            {{"10.0.0.1:15106", "0", "scan"}, "", "10.0.0.1:15106 PUC cmd=8"},
            {{"10.0.0.1:15000", "0", "scan"},
             "Assuming CAN socket number = 15006\n",
             "10.0.0.1:15006 PUC cmd=8"},
            {{"300.1.2.3:15107", "0", "scan"}, "", "44.1.2.3:15107 PUC cmd=8"},
            {{"Ethernet2CAN:ORVCAN Application", "0", "scan"},
             "",
             "Ethernet2CAN|ORVCAN Application PUC cmd=8"},
            {{"e2c:left:right", "0", "scan"}, "", "e2c|left:right PUC cmd=8"},
            // A numeric form that misses its port is taken as a route.
            {{"10.0.0.1:abc", "0", "scan"}, "", "10.0.0.1|abc PUC cmd=8"},
            {{"ccb15", "", "scan"}, "Error: Bad BusID\n", ""},
            {{"ccb15", "0x1F", "scan"}, "", "192.168.100.25:16506 PUC cmd=8 bus=31"},
        },
        {}, "");
}

// Behind "ccb15 0". The commands: DOWNLOAD 1, VERIFY 4, TO_BOOT 5, GET_INFO 6, TO_APP 7, SCAN 8,
// SET_ID 9, IDENTIFY 10.
TEST(ParseArguments, CommandsAndTheirArguments) {
    const std::string badNode = "Error: Bad NodeID\n";
    const std::string badAppl = "Error: Bad application NodeID\n";
    const std::string badFile = "Error: Bad HEX file name\n";
    const std::string name259(259, 'f');
    ExpectParses(
        {
            {{"flash", "12"}, "Error: Unknown command!\n", ""},
            {{"dnlpuc", "12", "a.hex"}, "", "PUC cmd=1 node=12 file=a.hex"},
            {{"DnlHt", "12", "a.hex", "31"}, "", "HT cmd=1 node=12 file=a.hex"},
            {{"DnlHtpdo", "12", "list.txt"}, "", "HTPDO cmd=1 node=12 file=list.txt"},
            {{"ToBoot", "16"}, "", "PUC cmd=5 node=16"},
            {{"ToBoot"}, "", "PUC cmd=5"},
            {{"ToApp", "19"}, "", "PUC cmd=7 node=19"},
            {{"Identify", "5", "list.txt"}, "", "HTPDO cmd=10 node=5 file=list.txt"},
            {{"Scan", "abc", "0x999"}, "", "PUC cmd=8"},
            // File names.
            {{"DnlPUC", "12"}, "Bad filename!\n", ""},
            {{"Identify"}, "Bad filename!\n", ""},
            {{"DnlPUC", "12", ""}, badFile, ""},
            {{"DnlPUC", "12", name259 + "f"}, badFile, ""},
            {{"DnlPUC", "12", name259}, "", "PUC cmd=1 node=12 file=" + name259},
            {{"DnlPUC", "abc", ""}, badNode, ""},
            // Node IDs: only an upper bound.
            {{"ToApp", "0x80"}, "Error: Bad NodeID 0x80\n", ""},
            {{"ToApp", "0x7f"}, "", "PUC cmd=7 node=127"},
            {{"ToApp", "abc"}, badNode, ""},
            {{"SetIdPUC", "12", "0x20"}, "", "PUC cmd=9 node=12 new=32"},
            {{"SetIdPUC", "12", "200"}, "Error: Bad NodeID 0xC8\n", ""},
            {{"SetIdPUC", "12"}, badNode, ""},
            // The application's node ID, read for DnlPUC only.
            {{"DnlPUC", "12", "a.hex", "31", "extra"}, "", "PUC cmd=1 node=12 appl=31 file=a.hex"},
            {{"DnlPUC", "12", "a.hex", "128"}, badAppl, ""},
            {{"DnlPUC", "12", "a.hex", "x"}, badAppl, ""},
        },
        {"ccb15", "0"}, "192.168.100.25:16506 ");
}

// An earlier parse's card fields do not survive into this one.
TEST(ParseArguments, UpperCasesTransportAndKeywordInPlace) {
    std::vector<std::string> args = {"OrvFlashPuc", "Ethernet2CAN:orv", "0x0", "dnlpuc",
                                     "12",          "Test1.hex"};
    RunSettings earlier;
    earlier.useCanCard = 1;
    earlier.applNodeId = 9;
    std::snprintf(earlier.canCardName, sizeof earlier.canCardName, "CAN0");
    EXPECT_EQ(Parse(args, earlier).second, "Ethernet2CAN|orv PUC cmd=1 node=12 file=Test1.hex");
    EXPECT_EQ(args, (std::vector<std::string>{"OrvFlashPuc", "ETHERNET2CAN:ORV", "0x0", "DNLPUC",
                                              "12", "Test1.hex"}));
}

TEST(ParseNumber, Rules) {
    struct Case {
        const char* text;
        int result;
        int32_t value;  // starts at 77
    };
    const Case cases[] = {
        {nullptr, 0, 77}, {"", -1, 77},
        {"12abc", 0, 12}, {" 7", 0, 7},
        {"-12", 0, -12},  {"abc", -1, 77},
        {"0X1a", 0, 26},  {"0x5", 0, 5},
        {"0x", 0, 0},     {"0x80000000", 0, INT32_MIN},
        {"0b1", 0, 0},    {"012", 0, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text == nullptr ? "(null)" : c.text);
        int32_t value = 77;
        EXPECT_EQ(ParseNumber(c.text, value), c.result);
        EXPECT_EQ(value, c.value);
    }
}

}  // namespace
