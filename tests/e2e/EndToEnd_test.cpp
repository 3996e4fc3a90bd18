// The tool and the simulator as separate processes, through every transport of the table.
// Each case starts its own simulator on free ports, so cases run side by side.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "Transports.h"
#include "support/HexWriter.h"
#include "support/SimProcess.h"
#include "support/TestFiles.h"
#include "support/ToolRun.h"

namespace {

using orv::test::SimProcess;
using orv::test::ToolResult;
using orv::test::Transport;
using testing::EndsWith;
using testing::HasSubstr;
using testing::MatchesRegex;
using testing::Not;

constexpr int kExitFailure = 255;

std::vector<uint8_t> Program(size_t count, uint8_t seed) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(seed ^ (i * 31 + i / 7));
    return bytes;
}

class EndToEnd : public testing::TestWithParam<Transport> {
  protected:
    void SetUp() override {
        if (GetParam().unavailable) {
            const std::string reason = GetParam().unavailable();
            if (!reason.empty())
                GTEST_SKIP() << reason;
        }
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

    // Runs the tool on BusID 0 in the case's directory.
    ToolResult Tool(const std::vector<std::string>& command, int timeoutMs = 120000) {
        const Transport& transport = GetParam();
        std::vector<std::string> args = {transport.firstArgument(*sim_), "0"};
        args.insert(args.end(), command.begin(), command.end());
        orv::test::ToolRunOptions options;
        options.workDir = dir_.Path();
        options.timeoutMs = timeoutMs;
        if (transport.environment)
            options.env = transport.environment(*sim_);
        const ToolResult result = orv::test::RunTool(args, options);
        EXPECT_FALSE(result.timedOut) << result.out;
        return result;
    }

    // A PUC program in two sub-blocks, 10 and 36: one in each flash page.
    std::string WritePucProgram(const std::string& name) {
        orv::test::HexWriter hex;
        hex.Bytes(0x5000, Program(2048, 0x11)).Bytes(0x12000, Program(2048, 0x22)).EndOfFile();
        hex.Save(dir_.File(name));
        return dir_.File(name);
    }

    std::string FlashLog() const { return orv::test::ReadFile(dir_.File("FLASH.LOG")); }

    orv::test::TempDir dir_;
    std::unique_ptr<SimProcess> sim_;
};

TEST_P(EndToEnd, DownloadVerifyAndReadBackTheInformationBlock) {
    StartSim({"--puc", "12"});
    const std::string file = WritePucProgram("app.hex");

    ToolResult r = Tool({"DnlPUC", "12", file});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_THAT(
        r.out,
        HasSubstr("Please wait... flashing\nBusId: 0 NodeId: 12 HexFileName: " + file + "\n"));
    EXPECT_THAT(r.out, EndsWith("Download successful!\n"));
    EXPECT_THAT(FlashLog(), MatchesRegex("app\\.hex [ 0-9A-F]{4} ([0-9]{2}\\.){2}[0-9]{2} "
                                         "([0-9]{2}\\.){2}[0-9]{2}  C        0\n"));

    r = Tool({"VerPUC", "12", file});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_THAT(r.out, HasSubstr("Uploading subblock starting at 0x5000 Checking... Ok.\n"
                                 "Uploading subblock starting at 0x12000 Checking... Ok.\n"));
    EXPECT_THAT(r.out, EndsWith("Verify successful!\n"));
    EXPECT_TRUE(std::filesystem::exists(dir_.File("app.ori")));
    EXPECT_TRUE(std::filesystem::exists(dir_.File("app.res")));

    r = Tool({"ToBoot", "12"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_THAT(r.out, EndsWith("Going to boot mode (for PUC) OK\n"));

    r = Tool({"GetInfoPUC", "12"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_THAT(r.out, HasSubstr("FLASH memory contains valid application flag (0xA5A5)\n"));
    EXPECT_THAT(r.out, HasSubstr("\tFile name       : app.hex\n"));
    // Both dates as FLASH.LOG has them.
    const std::string log = FlashLog();
    ASSERT_GE(log.size(), 26u);
    EXPECT_THAT(r.out, HasSubstr("\tFile mod. date  : " + log.substr(13, 8) + "\n"));
    EXPECT_THAT(r.out, HasSubstr("\tFlashing date   : " + log.substr(22, 8) + "\n"));

    r = Tool({"ToApp", "12"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_THAT(r.out, EndsWith("Jump to application DONE\n"));
    EXPECT_EQ(FlashLog(), log) << "only downloads write the log";
}

TEST_P(EndToEnd, DownloadFindsTheBootModeNodeOfAnApplication) {
    if (!GetParam().reopensAfterReset)
        GTEST_SKIP() << "the search ends with a transport reset, which leaves a card closed";
    StartSim({"--puc", "31,boot=40"});
    const std::string file = WritePucProgram("app.hex");
    const ToolResult r = Tool({"DnlPUC", "12", file, "31"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_THAT(r.out, HasSubstr("Checking boot mode NodeId ... New boot mode NodeId 40 will be "
                                 "used !\n"));
    EXPECT_THAT(r.out, HasSubstr("BusId: 0 NodeId: 40 HexFileName: "));
    EXPECT_THAT(r.out, EndsWith("Download successful!\n"));
    EXPECT_THAT(FlashLog(), HasSubstr(" 28        0\n"));
}

TEST_P(EndToEnd, DownloadRefusesToGuessBetweenTwoBootModeNodes) {
    StartSim({"--puc", "20,mode=boot", "--puc", "30,mode=boot"});
    const std::string file = WritePucProgram("app.hex");
    const ToolResult r = Tool({"DnlPUC", "12", file, "31"});
    EXPECT_EQ(r.exitCode, kExitFailure) << r.out;
    EXPECT_THAT(r.out,
                EndsWith("Checking boot mode NodeId ... More than 2 nodes in boot mode !\n"));
    EXPECT_THAT(r.out, Not(HasSubstr("flashing")));
    EXPECT_FALSE(std::filesystem::exists(dir_.File("FLASH.LOG")));
}

TEST_P(EndToEnd, ANewBootNodeIdTakesEffectWhenTheBootCodeStartsAgain) {
    StartSim({"--puc", "12,mode=boot"});
    ToolResult r = Tool({"SetIdPUC", "12", "0x21"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_THAT(r.out, HasSubstr("InitExtendedInfoUpdate: DONE\n"));

    r = Tool({"ToApp", "12"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    // The application still answers as 12, its boot code now as 0x21.
    r = Tool({"ToBoot", "12"});
    EXPECT_EQ(r.exitCode, kExitFailure) << r.out;
    EXPECT_THAT(r.out, EndsWith("different CAN node ID in BOOT mode!\n"));

    r = Tool({"Scan"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_THAT(r.out, EndsWith("Detected nodes in BOOT mode:\n0x21 \n"));
}

TEST_P(EndToEnd, DownloadAnHtBoard) {
    StartSim({"--ht", "5,mode=boot"});
    orv::test::HexWriter hex;
    hex.Bytes(0x0000, Program(2048, 0x33)).EndOfFile();
    hex.Save(dir_.File("ht.hex"));
    const ToolResult r = Tool({"DnlHT", "5", dir_.File("ht.hex")});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    // An HT program lives in page 6, which the sub-block line shows as 0x10000 up.
    EXPECT_THAT(r.out, HasSubstr("Subblock starting at 0x10000 ... SENT\n"));
    EXPECT_THAT(r.out, EndsWith("Download successful!\n"));
    EXPECT_FALSE(std::filesystem::exists(dir_.File("FLASH.LOG")));
}

TEST_P(EndToEnd, IdentifyAnHtBoardAndDownloadItsListedFirmware) {
    if (!GetParam().carriesRawFrames)
        GTEST_SKIP() << "no raw frames through this transport";
    StartSim({"--ht", "5,ident=HT-0042"});
    std::filesystem::create_directory(dir_.File("fw"));
    orv::test::HexWriter hex;
    hex.Bytes(0x01010000, Program(2048, 0x44)).EndOfFile();
    hex.Save(dir_.File("fw/ht-0042.hex"));
    orv::test::WriteFile(dir_.File("fw/list.txt"),
                         "HT-0001\tother.hex\t0x0\nHT-0042\tht-0042.hex\t0x01010000\n");

    ToolResult r = Tool({"IDENTIFY", "5", dir_.File("fw/list.txt")});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_THAT(r.out, EndsWith("BusId: 0 NodeId: 5 HW: HT-0042\n"
                                "Firmware: HT-0042 -> " +
                                dir_.File("fw/ht-0042.hex") + "\nOffset: 0x1010000\n"));

    r = Tool({"DnlHTpdo", "5", dir_.File("fw/list.txt")});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_THAT(r.out, HasSubstr("Subblock starting at 0x10000 ... SENT\n"));
    EXPECT_THAT(r.out, EndsWith("Download successful!\n"));
}

TEST_P(EndToEnd, ASilentBoardIsReportedAsNotInBootMode) {
    StartSim({"--puc", "12,mode=boot,silent"});
    const ToolResult r = Tool({"GetInfoPUC", "12"});
    EXPECT_EQ(r.exitCode, kExitFailure) << r.out;
    EXPECT_THAT(r.out, EndsWith("PUC is not in BOOT code, or there is no connection with it\n"
                                "Check PUC or try other nodeID!\nGetting PUC BOOT info failed!"));
}

TEST_P(EndToEnd, AConnectionCutMidDownloadFailsPromptly) {
    if (!GetParam().connectionCanBeCut)
        GTEST_SKIP() << "this transport keeps no connection";
    // Enough requests to reach the sub-blocks of the download, not enough to finish it.
    StartSim({"--puc", "12,mode=boot", "--close-after", "18"});
    const std::string file = WritePucProgram("app.hex");
    const ToolResult r = Tool({"DnlPUC", "12", file}, 30000);
    EXPECT_EQ(r.exitCode, kExitFailure) << r.out;
    EXPECT_THAT(r.out, HasSubstr("Error in TCP/IP communication\n"));
    EXPECT_THAT(r.out, EndsWith("Download failed!"));
    EXPECT_LT(r.elapsedMs, 10000);
    EXPECT_FALSE(std::filesystem::exists(dir_.File("FLASH.LOG")));
}

TEST_P(EndToEnd, AMissingHexFileFailsBeforeTheBus) {
    StartSim({"--puc", "12,mode=boot"});
    const ToolResult r = Tool({"DnlPUC", "12", dir_.File("missing.hex"), "31"});
    EXPECT_EQ(r.exitCode, kExitFailure);
    EXPECT_THAT(r.out, EndsWith(GetParam().announcement + "Error: Can not find HEX file\n"));
}

INSTANTIATE_TEST_SUITE_P(Transports, EndToEnd, testing::ValuesIn(orv::test::AllTransports()),
                         [](const testing::TestParamInfo<Transport>& transport) {
                             return transport.param.name;
                         });

TEST(EndToEndGateway, NothingListeningEndsTheRunAtOnce) {
    int port = 0;
    {
        // A port that was free a moment ago and is closed now.
        SimProcess sim({"--gateway", "0:0"});
        port = sim.GatewayPort(0);
    }
    const ToolResult r = orv::test::RunTool({"127.0.0.1:" + std::to_string(port), "0", "Scan"},
                                            {.timeoutMs = 10000});
    EXPECT_EQ(r.exitCode, kExitFailure);
    EXPECT_THAT(r.out, EndsWith("Can not connect to CCB\n"));
    EXPECT_LT(r.elapsedMs, 5000);
}

}  // namespace
