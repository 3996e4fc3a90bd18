// The tool and the simulator as separate processes, through every transport of the table.
// Each case starts its own simulator on free ports, so cases run side by side.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <utime.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <thread>

#include "BusTrace.h"
#include "os/Socket.h"
#include "os/TcpListen.h"
#include "support/HexWriter.h"
#include "support/SimProcess.h"
#include "support/TestFiles.h"
#include "support/ToolRun.h"

namespace orv::test {
namespace {

using testing::EndsWith;
using testing::HasSubstr;

using Environment = std::vector<std::pair<std::string, std::string>>;

// One way for the tool to reach the simulated bus: one more entry in AllTransports() adds it to
// every end-to-end case.
struct Transport {
    std::string name{};
    std::vector<std::string> simArgs{};  // what the simulator must listen on
    std::function<std::string(const SimProcess&)> firstArgument{};
    std::function<Environment(const SimProcess&)> environment{};  // unset: none
    // False when this simulator cannot serve the case (it is then started anew); unset: always.
    std::function<bool(const SimProcess&)> usable{};
    // Why this transport cannot run on this machine; empty when it can.
    std::function<std::string()> unavailable{};
    bool carriesRawFrames = true;   // which DnlHTpdo and IDENTIFY need
    int64_t pollAnswerDelayMs = 0;  // how long it lets a node answer a poll before it reads
    std::string announcement{};     // the line the tool prints when it opens the transport
    std::string program = ORV_FLASH_PUC_BIN;
    std::vector<std::string> launcher{};
    bool crlfLineEnds = false;  // a Windows tool: every line of its output and FLASH.LOG
    // A file's path as the tool is to be given it; unset: as it is.
    std::function<std::string(const std::string&)> toolPath{};
};

void PrintTo(const Transport& transport, std::ostream* out) {
    *out << transport.name;
}

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
        .pollAnswerDelayMs = 300,
        .announcement = "CAN card based communication\n",
    };
}

std::string WindowsTool() {
    return std::string(ORV_WINDOWS_BUILD_DIR) + "/OrvFlashPuc.exe";
}

// The same transport, the tool being the Windows build run by Wine against our simulator. The
// card libraries sit beside the .exe, where Windows looks first; files are named the Windows
// way, with a drive letter and the separator given (Windows takes both).
Transport OnWindows(Transport transport, char separator) {
    const std::string exe = WindowsTool();
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

// Text with CR LF taken as a line end; adds a failure when any line end is a bare LF.
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

constexpr int kExitFailure = 255;  // the tool's -1 as the shell sees it

// Bytes that differ from their neighbours, so a misplaced byte shows.
std::vector<uint8_t> Program(size_t count, uint8_t seed) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(seed ^ (i * 31 + i / 7));
    return bytes;
}

class EndToEnd : public testing::TestWithParam<Transport> {
  protected:
    void SetUp() override {
        const std::string reason = GetParam().unavailable ? GetParam().unavailable() : "";
        if (!reason.empty())
            GTEST_SKIP() << reason;
    }

    void TearDown() override {
        if (!steps_.empty())
            CompareWithOtherTransports();
        if (HasFailure() && sim_)
            std::cout << "Simulator log:\n" << sim_->Log();
    }

    // Starts the simulator with these boards and whatever the transport needs.
    void StartSim(std::vector<std::string> boards) {
        const Transport& transport = GetParam();
        boards.insert(boards.end(), transport.simArgs.begin(), transport.simArgs.end());
        boards.insert(boards.end(), {"--trace", dir_.File("bus.log")});
        for (int attempt = 0; attempt < 5; ++attempt) {
            sim_.reset();
            sim_ = std::make_unique<SimProcess>(boards);
            if (!transport.usable || transport.usable(*sim_))
                return;
        }
        FAIL() << "no usable simulator";
    }

    // Runs the tool on BusID 0 in the case's directory and checks its status and last output.
    std::string Tool(const std::vector<std::string>& command, int exitCode,
                     const std::string& ending) {
        const Transport& transport = GetParam();
        std::vector<std::string> args = {transport.firstArgument(*sim_), "0"};
        args.insert(args.end(), command.begin(), command.end());
        ToolRunOptions options{
            .workDir = dir_.Path(), .program = transport.program, .launcher = transport.launcher};
        if (transport.environment)
            options.env = transport.environment(*sim_);
        ToolResult r = RunTool(args, options);
        // Wine itself can fail to start a program while many start at once: it then ends at
        // once with nothing printed. That is no verdict on the tool, so it gets one more start.
        if (!transport.launcher.empty() && r.out.empty() && r.exitCode != exitCode) {
            std::cout << "Wine did not start the tool (" << r.err << "); starting it again\n";
            r = RunTool(args, options);
        }
        const std::string out = transport.crlfLineEnds ? CrLfAsLineEnd(r.out) : r.out;
        lineMs_ = r.outLineMs;
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, exitCode) << out << r.err;
        EXPECT_THAT(out, EndsWith(ending));
        RecordStep(command);
        return out;
    }

    // Takes the frames of the run just ended from the trace as one step of the case, and checks
    // a download's pauses.
    void RecordStep(const std::vector<std::string>& command) {
        const std::vector<TracedFrame> frames = ParseCandump(SettledTrace());
        const std::vector<TracedFrame> step(frames.begin() + static_cast<ptrdiff_t>(traced_),
                                            frames.end());
        traced_ = frames.size();
        std::string meanings;
        for (const TracedFrame& frame : step)
            meanings += MeaningOf(frame) + "\n";
        steps_.push_back({std::to_string(steps_.size()) + "-" + command.front(), meanings});
        const int variant = command.front() == "DnlPUC" ? 1 : command.front() == "DnlHT" ? 2 : 0;
        if (variant != 0) {
            EXPECT_THAT(ShortPauses(step, static_cast<uint8_t>(std::stoi(command[1])),
                                    {variant, GetParam().pollAnswerDelayMs}),
                        testing::IsEmpty());
        }
    }

    // The trace once the frames still on their way to it are in: the last reply of a gateway
    // command can reach the tool before its frame reaches the trace.
    std::string SettledTrace() const {
        std::string trace = ReadFile(dir_.File("bus.log"));
        for (int waits = 0; waits < 50; ++waits) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            std::string later = ReadFile(dir_.File("bus.log"));
            if (later == trace)
                break;
            trace = std::move(later);
        }
        return trace;
    }

    // Every transport must leave the boards the same frames in each step that both made. The
    // runs of a case over the transports are separate tests, so each leaves its steps in the
    // build tree; whichever ends later compares, with runs of the programs as they are now.
    void CompareWithOtherTransports() {
        namespace fs = std::filesystem;
        fs::file_time_type programs = fs::last_write_time("/proc/self/exe");
        for (const std::string& program :
             {std::string(ORV_FLASH_PUC_BIN), std::string(ORV_CAN_SIM_BIN), WindowsTool()})
            if (fs::exists(program))
                programs = std::max(programs, fs::last_write_time(program));
        const std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
        for (const auto& [step, frames] : steps_) {
            const fs::path folder =
                fs::path(ORV_BINARY_DIR) / "e2e-bus" / test.substr(0, test.find('/')) / step;
            fs::create_directories(folder);
            // Whole or not at all, for a run of another transport that reads it meanwhile.
            const fs::path ours = folder / GetParam().name;
            WriteFile(ours.string() + ".part", frames);
            fs::rename(ours.string() + ".part", ours);
            for (const fs::directory_entry& theirs : fs::directory_iterator(folder)) {
                if (theirs.path() != ours && theirs.path().extension() != ".part" &&
                    theirs.last_write_time() >= programs) {
                    EXPECT_EQ(frames, ReadFile(theirs.path().string()))
                        << step << ": " << GetParam().name << " against "
                        << theirs.path().filename().string();
                }
            }
        }
    }

    // How long a reader of the tool's pipe waited after the last run's first line starting with
    // `line` before the next one came: a line must reach it before the wait that follows.
    int64_t WaitAfter(const std::string& out, const std::string& line) const {
        std::istringstream lines(out);
        std::string text;
        for (size_t index = 0; index + 1 < lineMs_.size() && std::getline(lines, text); ++index) {
            if (text.rfind(line, 0) == 0)
                return lineMs_[index + 1] - lineMs_[index];
        }
        return -1;
    }

    std::string FlashLog() const {
        const std::string log = ReadFile(dir_.File("FLASH.LOG"));
        return GetParam().crlfLineEnds ? CrLfAsLineEnd(log) : log;
    }
    // A PUC program in two sub-blocks, 10 and 36, one in each flash page, last written at noon
    // (UTC) on 4 March 2021; a Windows tool gets it with the CR LF line ends of a Windows editor.
    std::string PucProgram() const {
        HexWriter(GetParam().crlfLineEnds ? "\r\n" : "\n")
            .Bytes(0x5000, Program(2048, 0x11))
            .Bytes(0x12000, Program(2048, 0x22))
            .EndOfFile()
            .Save(dir_.File("app.hex"));
        const utimbuf noon{1614859200, 1614859200};
        EXPECT_EQ(utime(dir_.File("app.hex").c_str(), &noon), 0);
        return ToolPath(dir_.File("app.hex"));
    }
    // A file of the case's directory as the tool is to name it.
    std::string ToolPath(const std::string& path) const {
        return GetParam().toolPath ? GetParam().toolPath(path) : path;
    }

    TempDir dir_;
    std::unique_ptr<SimProcess> sim_;
    std::vector<std::pair<std::string, std::string>> steps_;  // each run's frames
    size_t traced_ = 0;            // frames of the trace already in a step
    std::vector<int64_t> lineMs_;  // when each line of the last run reached the pipe
};

TEST_P(EndToEnd, DownloadVerifyReadBackAndMoveTheBootNodeId) {
    StartSim({"--puc", "12"});
    const std::string file = PucProgram();

    const std::string flashed = Tool({"DnlPUC", "12", file}, 0, "Download successful!\n");
    EXPECT_THAT(
        flashed,
        HasSubstr("Please wait... flashing\nBusId: 0 NodeId: 12 HexFileName: " + file + "\n"));
    // The initialisation's, the programming's and the closing pause, as the pipe shows them. A
    // line whose flush is missing comes with the next; half a pause is margin for a loaded
    // machine, whose reader may see a line late.
    for (const auto& [line, pauseMs] :
         {std::pair{"BusId: 0", 1250}, {"ProgramSubblock DONE", 6000}, {"sleeping...", 500}})
        EXPECT_GE(WaitAfter(flashed, line), pauseMs) << line;
    const std::string log = FlashLog();
    EXPECT_THAT(log, testing::MatchesRegex("app\\.hex [ 0-9A-F]{4} 04\\.03\\.21 "
                                           "([0-9]{2}\\.){2}[0-9]{2}  C        0\n"));
    EXPECT_THAT(Tool({"VerPUC", "12", file}, 0, "Verify successful!\n"),
                HasSubstr("Uploading subblock starting at 0x5000 Checking... Ok.\n"
                          "Uploading subblock starting at 0x12000 Checking... Ok.\n"));
    for (const char* dump : {"app.ori", "app.res"})
        EXPECT_EQ(std::filesystem::file_size(dir_.File(dump)), 131072u) << dump;

    Tool({"ToBoot", "12"}, 0, "Going to boot mode (for PUC) OK\n");
    // The file name and both dates as FLASH.LOG has them.
    ASSERT_GE(log.size(), 26u);
    EXPECT_THAT(
        Tool({"GetInfoPUC", "12"}, 0, ""),
        HasSubstr("FLASH memory contains valid application flag (0xA5A5)\nApp file check sum: "
                  "0xF5B8\nApp entry address is 0x2000\nChip content:\n"
                  "\tFile name       : app.hex\n\tFile mod. date  : " +
                  log.substr(13, 8) + "\n\tFlashing date   : " + log.substr(22, 8) + "\n"));

    Tool({"SetIdPUC", "12", "0x21"}, 0,
         "InitExtendedInfoUpdate: DONE\nWrite enable DONE\nFlashExtInfoBlk: DONE\nStatus: OK\n");
    Tool({"ToApp", "12"}, 0, "Jump to application DONE\n");
    // The application still answers as 12, its boot code now as 0x21; the node is shown before
    // the wait for its boot loader.
    const std::string moved =
        Tool({"ToBoot", "12"}, kExitFailure, "different CAN node ID in BOOT mode!\n");
    EXPECT_GE(WaitAfter(moved, "BusId: 0"), 1500);
    Tool({"Scan"}, 0, "Detected nodes in BOOT mode:\n0x21 \n");
    EXPECT_EQ(FlashLog(), log) << "only downloads write the log";
}

TEST_P(EndToEnd, FailuresEndTheRunWithoutFlashing) {
    StartSim({"--puc", "20,mode=boot", "--puc", "30,mode=boot", "--puc", "12,mode=boot,silent"});
    Tool({"GetInfoPUC", "12"}, kExitFailure,
         "PUC is not in BOOT code, or there is no connection with it\n"
         "Check PUC or try other nodeID!\nGetting PUC BOOT info failed!");
    Tool({"DnlPUC", "12", ToolPath(dir_.File("missing.hex")), "31"}, kExitFailure,
         GetParam().announcement + "Error: Can not find HEX file\n");
    EXPECT_THAT(Tool({"DnlPUC", "12", PucProgram(), "31"}, kExitFailure,
                     "Checking boot mode NodeId ... More than 2 nodes in boot mode !\n"),
                testing::Not(HasSubstr("flashing")));
    EXPECT_FALSE(std::filesystem::exists(dir_.File("FLASH.LOG")));
}

TEST_P(EndToEnd, DownloadAnHtBoardAndWhereRawFramesPassItsListedFirmware) {
    StartSim({"--ht", "5,mode=boot,ident=HT-0042"});
    // An HT program lives in page 6, which the sub-block line shows as 0x10000 up.
    const std::string sent = "Subblock starting at 0x10000 ... SENT\n";
    HexWriter().Bytes(0x0000, Program(2048, 0x33)).EndOfFile().Save(dir_.File("ht.hex"));
    const std::string flashed =
        Tool({"DnlHT", "5", ToolPath(dir_.File("ht.hex"))}, 0, "Download successful!\n");
    EXPECT_THAT(flashed, HasSubstr(sent));
    // The boot loader's start, the long programming pause and the board's settling, as the pipe
    // shows them.
    for (const auto& [line, pauseMs] :
         {std::pair{"sleeping...", 3500}, {"sleeping long", 1000}, {"Finalize", 2500}})
        EXPECT_GE(WaitAfter(flashed, line), pauseMs) << line;
    EXPECT_FALSE(std::filesystem::exists(dir_.File("FLASH.LOG")));
    if (!GetParam().carriesRawFrames)
        return;
    // In a folder of its own, so that the firmware is found beside the list, not in ours.
    std::filesystem::create_directory(dir_.File("fw"));
    HexWriter().Bytes(0x01010000, Program(2048, 0x44)).EndOfFile().Save(dir_.File("fw/ht.hex"));
    WriteFile(dir_.File("fw/list.txt"), "HT-0001\tother.hex\t0x0\nHT-0042\tht.hex\t0x01010000\n");
    const std::string list = ToolPath(dir_.File("fw/list.txt"));
    Tool({"IDENTIFY", "5", list}, 0,
         "BusId: 0 NodeId: 5 HW: HT-0042\nFirmware: HT-0042 -> " +
             ToolPath(dir_.File("fw/ht.hex")) + "\nOffset: 0x1010000\n");
    EXPECT_THAT(Tool({"DnlHTpdo", "5", list}, 0, "Download successful!\n"), HasSubstr(sent));
}

// A gateway address where nothing listens: the tool says so, on standard error why, and fails.
TEST(ClosedGateway, TheToolCannotConnectAndSaysWhy) {
    uint16_t port = 0;
    std::string reason;
    // A port the system just handed out and took back; one that is a multiple of 100 would be
    // read as a gateway board's base port.
    for (int attempt = 0; attempt < 5 && port % 100 == 0; ++attempt) {
        port = 0;
        CloseSocket(ListenTcp("127.0.0.1", port, reason));
    }
    const std::string gateway = "127.0.0.1:" + std::to_string(port);
    const ToolResult r = RunTool({gateway, "0", "Scan"});
    EXPECT_EQ(r.exitCode, kExitFailure);
    EXPECT_EQ(r.out, "Can not connect to CCB\n");
    EXPECT_THAT(r.err, HasSubstr("gateway " + gateway + ": Connection refused"));
}

INSTANTIATE_TEST_SUITE_P(Transports, EndToEnd, testing::ValuesIn(AllTransports()),
                         [](const testing::TestParamInfo<Transport>& transport) {
                             return transport.param.name;
                         });

}  // namespace
}  // namespace orv::test
