#include "frontend/CommandLine.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "os/Console.h"

namespace orv {

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

struct ParseCase {
    std::vector<std::string> args;
    std::string output;
    std::string settings;  // empty: the parse fails
};

// Parses each case's arguments behind the program name and `before`, as a program's argv.
void ExpectParses(const std::vector<ParseCase>& cases, const std::vector<std::string>& before,
                  const std::string& settingsBefore) {
    for (const ParseCase& c : cases) {
        std::vector<std::string> args = {"OrvFlashPuc"};
        args.insert(args.end(), before.begin(), before.end());
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(testing::PrintToString(args).substr(0, 120));
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        RunSettings settings;
        ConsoleCapture capture;
        const bool parsed = ParseArguments(settings, static_cast<int>(args.size()), argv.data());
        std::string output = capture.Text();
        // The usage text, a constant, by its first line and its last.
        if (output.starts_with("OrvFlashPuc - CAN boot loader programming tool TYL 4.5.0.1178\n"
                               "Usage: ") &&
            output.ends_with("\n  Currently supporting NI CAN card\n"))
            output = "usage";
        EXPECT_EQ(output, c.output);
        EXPECT_EQ(parsed ? Describe(settings) : "",
                  c.settings.empty() ? "" : settingsBefore + c.settings);
    }
}

TEST(ParseArguments, HelpTransportAndBusId) {
    ExpectParses(
        {
            {{}, "usage", ""},
            {{"-h", "0", "scan"}, "usage", ""},
            {{"CCB", "0", "scan"}, "Error: The first input argument not good\n", ""},
            {{"CCB16", "0", "scan"}, "Error: First input argument not good\n", ""},
            {{"ccb0", "0", "scan"}, "", "192.168.100.10:15006 PUC cmd=8"},
            {{"nican", "0", "scan"}, "", "card1=CAN0 PUC cmd=8"},
            {{"UsbLight", "0", "scan"}, "", "card1=CAN1 PUC cmd=8"},
            {{"hpcright", "0", "scan"}, "", "192.168.100.40:17706 PUC cmd=8"},
            {{"HPCLEFT", "0", "scan"}, "", "192.168.100.41:17806 PUC cmd=8"},
            {{"10.0.0.1:15106", "0", "scan"}, "", "10.0.0.1:15106 PUC cmd=8"},
            {{"10.0.0.1:15000", "0", "scan"},
             "Assuming CAN socket number = 15006\n",
             "10.0.0.1:15006 PUC cmd=8"},
            {{"Ethernet2CAN:ORVCAN Application", "0", "scan"},
             "",
             "Ethernet2CAN|ORVCAN Application PUC cmd=8"},
            // A numeric form that misses its port is taken as a route.
            {{"10.0.0.1:abc", "0", "scan"}, "", "10.0.0.1|abc PUC cmd=8"},
            {{"10.0.0.1:0", "0", "scan"},
             "Assuming CAN socket number = 6\n",
             "10.0.0.1:6 PUC cmd=8"},
            {{"E2C:A:B", "0", "scan"}, "", "E2C|A:B PUC cmd=8"},
            // A route needs both parts; a minus sign is no option but -h or -?.
            {{":ORVCAN", "0", "scan"}, "Error: First input argument not good\n", ""},
            {{"Ethernet2CAN:", "0", "scan"}, "Error: First input argument not good\n", ""},
            {{"-x", "0", "scan"}, "Error: First input argument not good\n", ""},
            {{"-?", "0", "scan"}, "usage", ""},
            {{"ccb15", "", "scan"}, "Error: Bad BusID\n", ""},
            {{"ccb15", "0x1F", "scan"}, "", "192.168.100.25:16506 PUC cmd=8 bus=31"},
        },
        {}, "");
}

// Behind "ccb15 0". The commands: DOWNLOAD 1, VERIFY 4, TO_BOOT 5, GET_INFO 6, TO_APP 7, SCAN 8,
// SET_ID 9, IDENTIFY 10.
TEST(ParseArguments, CommandsAndTheirArguments) {
    const std::string badFile = "Error: Bad HEX file name\n";
    ExpectParses(
        {
            {{"flash", "12"}, "Error: Unknown command!\n", ""},
            {{"dnlpuc", "12", "a.hex"}, "", "PUC cmd=1 node=12 file=a.hex"},
            {{"DnlHt", "12", "a.hex", "31"}, "", "HT cmd=1 node=12 file=a.hex"},
            {{"ToBoot", "16abc"}, "", "PUC cmd=5 node=16"},  // trailing text is ignored
            {{"Identify", "5", "list.txt"}, "", "HTPDO cmd=10 node=5 file=list.txt"},
            {{"Scan", "abc", "0x999"}, "", "PUC cmd=8"},
            {{"DnlPUC", "12"}, "Bad filename!\n", ""},
            {{"DnlPUC", "12", ""}, badFile, ""},
            {{"DnlPUC", "12", std::string(260, 'f')}, badFile, ""},
            // Node IDs: only an upper bound.
            {{"ToApp", "0x80"}, "Error: Bad NodeID 0x80\n", ""},
            {{"ToApp", "0x7f"}, "", "PUC cmd=7 node=127"},
            {{"ToApp", "abc"}, "Error: Bad NodeID\n", ""},
            // Hexadecimal needs three characters: "0x" alone is read as decimal 0.
            {{"ToApp", "0X5"}, "", "PUC cmd=7 node=5"},
            {{"ToApp", "0x"}, "", "PUC cmd=7"},
            {{"SetIdPUC", "12", "200"}, "Error: Bad NodeID 0xC8\n", ""},
            {{"SetIdPUC", "12"}, "Error: Bad NodeID\n", ""},
            // The file name is copied, and found missing, before the node ID is read.
            {{"VerPUC", "0x80"}, "Bad filename!\n", ""},
            {{"VerPUC", "12", "a.hex", "31"}, "", "PUC cmd=4 node=12 file=a.hex"},
            {{"ToApp", "-5"}, "", "PUC cmd=7 node=-5"},
            {{"SetIdPUC", "12", "0x20"}, "", "PUC cmd=9 node=12 new=32"},
            // The application's node ID, read for DnlPUC only.
            {{"DnlPUC", "12", "a.hex", "31", "extra"}, "", "PUC cmd=1 node=12 appl=31 file=a.hex"},
            {{"DnlPUC", "12", "a.hex", "128"}, "Error: Bad application NodeID\n", ""},
        },
        {"ccb15", "0"}, "192.168.100.25:16506 ");
}

}  // namespace

}  // namespace orv
