// The tool and the simulator as separate processes, through every transport of the table.
// Each case starts its own simulator on free ports, so cases run side by side.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <iostream>
#include <memory>

#include "Transports.h"
#include "support/HexWriter.h"
#include "support/ToolRun.h"

namespace {

using namespace orv::test;
using testing::EndsWith;
using testing::HasSubstr;
using testing::Not;
using testing::StartsWith;

class EndToEnd : public testing::TestWithParam<Transport> {
  protected:
    void SetUp() override {
        const std::string reason = GetParam().unavailable ? GetParam().unavailable() : "";
        if (!reason.empty())
            GTEST_SKIP() << reason;
    }

    void TearDown() override {
        if (HasFailure() && sim_)
            std::cout << "Simulator log:\n" << sim_->Log();
    }

    // Starts the simulator with these boards and whatever the transport needs.
    void StartSim(std::vector<std::string> boards) {
        const Transport& transport = GetParam();
        boards.insert(boards.end(), transport.simArgs.begin(), transport.simArgs.end());
        for (int attempt = 0; attempt < 5; ++attempt) {
            sim_.reset();
            sim_ = std::make_unique<SimProcess>(boards);
            if (!transport.usable || transport.usable(*sim_))
                return;
        }
        FAIL() << "no usable simulator";
    }

    // Runs the tool on BusID 0 in the case's directory and checks its status and last output.
    ToolResult Tool(const std::vector<std::string>& command, int exitCode,
                    const std::string& ending, int timeoutMs = 120000) {
        const Transport& transport = GetParam();
        std::vector<std::string> args = {transport.firstArgument(*sim_), "0"};
        args.insert(args.end(), command.begin(), command.end());
        ToolRunOptions options{.workDir = dir_.Path(),
                               .timeoutMs = timeoutMs,
                               .program = transport.program,
                               .errorOnTerminal = terminal_,
                               .launcher = transport.launcher};
        if (transport.environment)
            options.env = transport.environment(*sim_);
        ToolResult r = RunTool(args, options);
        // Wine itself can fail to start a program while many start at once: it then ends at
        // once with nothing printed. That is no verdict on the tool, so it gets one more start.
        if (!transport.launcher.empty() && r.out.empty() && r.exitCode != exitCode) {
            std::cout << "Wine did not start the tool (" << r.err << "); starting it again\n";
            r = RunTool(args, options);
        }
        if (transport.crlfLineEnds)
            r.out = CrLfAsLineEnd(r.out);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, exitCode) << r.out << r.err;
        EXPECT_THAT(r.out, EndsWith(ending));
        return r;
    }

    std::string FlashLog() const {
        const std::string log = ReadFile(dir_.File("FLASH.LOG"));
        return GetParam().crlfLineEnds ? CrLfAsLineEnd(log) : log;
    }
    // The PUC program of WritePucProgram as the tool is to name it; a Windows tool gets it with
    // the CR LF line ends of a Windows editor (the HT files keep LF).
    std::string PucProgram() const {
        return ToolPath(WritePucProgram(dir_, GetParam().crlfLineEnds ? "\r\n" : "\n"));
    }
    // A file of the case's directory as the tool is to name it.
    std::string ToolPath(const std::string& path) const {
        return GetParam().toolPath ? GetParam().toolPath(path) : path;
    }
    bool HasFlashLog() const { return std::filesystem::exists(dir_.File("FLASH.LOG")); }

    TempDir dir_;
    std::unique_ptr<SimProcess> sim_;
    bool terminal_ = false;  // the tool's standard error on a terminal
};

TEST_P(EndToEnd, DownloadVerifyAndReadBackTheInformationBlock) {
    StartSim({"--puc", "12"});
    const std::string file = PucProgram();

    ToolResult r = Tool({"DnlPUC", "12", file}, 0, "Download successful!\n");
    EXPECT_THAT(
        r.out,
        HasSubstr("Please wait... flashing\nBusId: 0 NodeId: 12 HexFileName: " + file + "\n"));
    EXPECT_THAT(FlashLog(), testing::MatchesRegex("app\\.hex [ 0-9A-F]{4} ([0-9]{2}\\.){2}[0-9]{2} "
                                                  "([0-9]{2}\\.){2}[0-9]{2}  C        0\n"));

    r = Tool({"VerPUC", "12", file}, 0, "Verify successful!\n");
    EXPECT_THAT(r.out, HasSubstr("Uploading subblock starting at 0x5000 Checking... Ok.\n"
                                 "Uploading subblock starting at 0x12000 Checking... Ok.\n"));
    for (const char* dump : {"app.ori", "app.res"})
        EXPECT_EQ(std::filesystem::file_size(dir_.File(dump)), 131072u) << dump;

    Tool({"ToBoot", "12"}, 0, "Going to boot mode (for PUC) OK\n");
    r = Tool({"GetInfoPUC", "12"}, 0, "");
    // The file name and both dates as FLASH.LOG has them.
    const std::string log = FlashLog();
    ASSERT_GE(log.size(), 26u);
    EXPECT_THAT(r.out, HasSubstr("FLASH memory contains valid application flag (0xA5A5)\n"));
    EXPECT_THAT(r.out,
                HasSubstr("\tFile name       : app.hex\n\tFile mod. date  : " + log.substr(13, 8) +
                          "\n\tFlashing date   : " + log.substr(22, 8) + "\n"));

    Tool({"ToApp", "12"}, 0, "Jump to application DONE\n");
    EXPECT_EQ(FlashLog(), log) << "only downloads write the log";
}

TEST_P(EndToEnd, DownloadFindsTheBootModeNodeOfAnApplication) {
    if (!GetParam().reopensAfterReset)
        GTEST_SKIP() << "the search ends with a transport reset, which leaves a card closed";
    StartSim({"--puc", "31,boot=40"});
    const ToolResult r = Tool({"DnlPUC", "12", PucProgram(), "31"}, 0, "Download successful!\n");
    EXPECT_THAT(r.out, HasSubstr("Checking boot mode NodeId ... New boot mode NodeId 40 will be "
                                 "used !\n"));
    EXPECT_THAT(r.out, HasSubstr("BusId: 0 NodeId: 40 HexFileName: "));
    EXPECT_THAT(FlashLog(), HasSubstr(" 28        0\n"));
}

TEST_P(EndToEnd, DownloadRefusesToGuessBetweenTwoBootModeNodes) {
    StartSim({"--puc", "20,mode=boot", "--puc", "30,mode=boot"});
    const ToolResult r = Tool({"DnlPUC", "12", PucProgram(), "31"}, kExitFailure,
                              "Checking boot mode NodeId ... More than 2 nodes in boot mode !\n");
    EXPECT_THAT(r.out, Not(HasSubstr("flashing")));
    EXPECT_FALSE(HasFlashLog());
}

TEST_P(EndToEnd, ANewBootNodeIdTakesEffectWhenTheBootCodeStartsAgain) {
    StartSim({"--puc", "12,mode=boot"});
    const ToolResult r = Tool({"SetIdPUC", "12", "0x21"}, 0, "");
    EXPECT_THAT(r.out, HasSubstr("InitExtendedInfoUpdate: DONE\n"));
    Tool({"ToApp", "12"}, 0, "");
    // The application still answers as 12, its boot code now as 0x21.
    Tool({"ToBoot", "12"}, kExitFailure, "different CAN node ID in BOOT mode!\n");
    Tool({"Scan"}, 0, "Detected nodes in BOOT mode:\n0x21 \n");
}

TEST_P(EndToEnd, DownloadAnHtBoard) {
    StartSim({"--ht", "5,mode=boot"});
    HexWriter().Bytes(0x0000, Program(2048, 0x33)).EndOfFile().Save(dir_.File("ht.hex"));
    const ToolResult r =
        Tool({"DnlHT", "5", ToolPath(dir_.File("ht.hex"))}, 0, "Download successful!\n");
    // An HT program lives in page 6, which the sub-block line shows as 0x10000 up.
    EXPECT_THAT(r.out, HasSubstr("Subblock starting at 0x10000 ... SENT\n"));
    EXPECT_FALSE(HasFlashLog());
}

TEST_P(EndToEnd, IdentifyAnHtBoardAndDownloadItsListedFirmware) {
    if (!GetParam().carriesRawFrames)
        GTEST_SKIP() << "no raw frames through this transport";
    StartSim({"--ht", "5,ident=HT-0042"});
    // In a folder of its own, so that the firmware is found beside the list, not in ours.
    std::filesystem::create_directory(dir_.File("fw"));
    HexWriter().Bytes(0x01010000, Program(2048, 0x44)).EndOfFile().Save(dir_.File("fw/ht.hex"));
    WriteFile(dir_.File("fw/list.txt"), "HT-0001\tother.hex\t0x0\nHT-0042\tht.hex\t0x01010000\n");
    const std::string list = ToolPath(dir_.File("fw/list.txt"));

    Tool({"IDENTIFY", "5", list}, 0,
         "BusId: 0 NodeId: 5 HW: HT-0042\nFirmware: HT-0042 -> " +
             ToolPath(dir_.File("fw/ht.hex")) + "\nOffset: 0x1010000\n");
    const ToolResult r = Tool({"DnlHTpdo", "5", list}, 0, "Download successful!\n");
    EXPECT_THAT(r.out, HasSubstr("Subblock starting at 0x10000 ... SENT\n"));
}

TEST_P(EndToEnd, ASilentBoardIsReportedAsNotInBootMode) {
    StartSim({"--puc", "12,mode=boot,silent"});
    Tool({"GetInfoPUC", "12"}, kExitFailure,
         "PUC is not in BOOT code, or there is no connection with it\n"
         "Check PUC or try other nodeID!\nGetting PUC BOOT info failed!");
}

TEST_P(EndToEnd, AConnectionCutMidDownloadFailsPromptly) {
    if (!GetParam().connectionCanBeCut)
        GTEST_SKIP() << "this transport keeps no connection";
    // Enough requests to reach the sub-blocks of the download, not enough to finish it.
    StartSim({"--puc", "12,mode=boot", "--close-after", "18"});
    const ToolResult r =
        Tool({"DnlPUC", "12", PucProgram()}, kExitFailure, "Download failed!", 30000);
    EXPECT_THAT(r.out, HasSubstr("Error in TCP/IP communication\n"));
    EXPECT_LT(r.elapsedMs, 10000);
    EXPECT_FALSE(HasFlashLog());
}

TEST_P(EndToEnd, AMissingHexFileFailsBeforeTheBus) {
    StartSim({"--puc", "12,mode=boot"});
    Tool({"DnlPUC", "12", ToolPath(dir_.File("missing.hex")), "31"}, kExitFailure,
         GetParam().announcement + "Error: Can not find HEX file\n");
}

// Progress is for a person at a terminal: it appears there on standard error, and standard
// output stays byte for byte what a piped run prints (a scan's, as the cases above check it).
TEST_P(EndToEnd, ProgressShowsOnATerminalOnly) {
    if (GetParam().name != "TcpGateway")
        GTEST_SKIP() << "one transport shows it";
    const std::string file = PucProgram();
    StartSim({"--puc", "12,mode=boot,hex=" + file});
    terminal_ = true;
    EXPECT_THAT(Tool({"Scan"}, 0, "Detected nodes in BOOT mode:\n0xC \n").err,
                HasSubstr("asking node 127 of 127"));
    const ToolResult shown = Tool({"VerPUC", "12", file}, 0, "Verify successful!\n");
    EXPECT_THAT(shown.err, HasSubstr("read 2048 of 4096 bytes (50 %)"));
    // Verification leaves the board in its application: it goes back for the second run.
    terminal_ = false;
    Tool({"ToBoot", "12"}, 0, "");
    const ToolResult piped = Tool({"VerPUC", "12", file}, 0, "");
    EXPECT_EQ(piped.out, shown.out);
    EXPECT_EQ(piped.err, "");
}

INSTANTIATE_TEST_SUITE_P(Transports, EndToEnd, testing::ValuesIn(AllTransports()),
                         [](const testing::TestParamInfo<Transport>& transport) {
                             return transport.param.name;
                         });

// A route to a port nobody listens on any more, or one the tool does not know, ends the run at
// once and says why on standard error.
TEST(EndToEndRoutes, ARouteThatLeadsNowhereEndsTheRunAtOnceSayingWhy) {
    int gateway = 0, bridge = 0;
    {
        SimProcess gone({"--gateway", "0:0", "--bridge", "0"});
        gateway = gone.GatewayPort(0);
        bridge = gone.BridgePort();
    }
    const std::string refused = ": Connection refused\n",
                      e2c = "TCP/IP (SCU based communication)\n",
                      failed = "Getting PUC BOOT info failed!";
    const std::array<std::array<std::string, 4>, 3> cases = {
        {{"127.0.0.1:" + std::to_string(gateway), "", "Can not connect to CCB\n",
          "gateway 127.0.0.1:" + std::to_string(gateway) + refused},
         {"Ethernet2CAN:127.0.0.1:" + std::to_string(bridge) + "/can0", e2c, failed,
          "socketcand: cannot connect to 127.0.0.1:" + std::to_string(bridge) + refused},
         {"ORVCAN:Application", e2c, failed,
          "Unknown route 'ORVCAN:Application': use Ethernet2CAN:HOST[:PORT][/CHANNEL] or "
          "SocketCAN:IFACE\n"}}};
    for (const auto& [route, opening, ending, why] : cases) {
        const ToolResult r = RunTool({route, "0", "GetInfoPUC", "12"}, {.timeoutMs = 10000});
        EXPECT_EQ(r.exitCode, kExitFailure) << route;
        EXPECT_THAT(r.out, StartsWith(opening));
        EXPECT_THAT(r.out, EndsWith(ending));
        EXPECT_EQ(r.err, why);
        EXPECT_LT(r.elapsedMs, 5000) << route;
    }
}

}  // namespace
