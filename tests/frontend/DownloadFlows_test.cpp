#include "frontend/DownloadFlows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "FlowGateway.h"
#include "frontend/ExitCodes.h"
#include "os/Console.h"
#include "support/FakeClock.h"
#include "support/HexWriter.h"
#include "support/TestFiles.h"
#include "transport/GatewayCodes.h"

namespace {

using orv::test::FlowGateway;

std::vector<uint8_t> Pattern(size_t count, uint8_t seed) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 13);
    return bytes;
}

class DownloadFlowTest : public testing::Test {
  protected:
    DownloadFlowTest() : workDir_(dir_.Path()) {}

    // A PUC image in two sub-blocks: 10 (0x5000) and 36 (0x12000).
    void WritePucImage() {
        orv::test::HexWriter()
            .Bytes(0x5000, Pattern(2048, 1))
            .Bytes(0x12000, Pattern(2048, 7))
            .EndOfFile()
            .Save(HexPath());
    }

    std::string HexPath() const { return dir_.File("app.hex"); }

    RunSettings Settings(int command, int mode, int nodeId, const std::string& file) {
        RunSettings settings;
        settings.command = command;
        settings.mode = mode;
        settings.nodeId = nodeId;
        std::strncpy(settings.hexFileName, file.c_str(), sizeof settings.hexFileName - 1);
        return settings;
    }

    std::string FlashLog() const { return orv::test::ReadFile(dir_.File("FLASH.LOG")); }

    orv::test::TempDir dir_;
    orv::test::ScopedWorkDir workDir_;
    orv::test::FakeClock clock_;
    orv::ConsoleCapture console_;
    FlowGateway gateway_;
};

// The boot-mode search when the named node answers, or nobody does; another node, and two in
// boot mode, are proven end to end.
TEST_F(DownloadFlowTest, TheBootModeSearchAcceptsTheNamedNodeWhenItAnswers) {
    WritePucImage();
    gateway_.AddBoard({31, 12, false, FlowGateway::PucInfo()});
    RunSettings settings = Settings(CMD_DOWNLOAD, MODE_PUC, 12, HexPath());
    settings.applNodeId = 31;
    EXPECT_EQ(RunPucDownload(settings, gateway_), kExitSuccess);
    const std::string& out = console_.Text();
    EXPECT_TRUE(out.starts_with("Please wait... going to BOOT mode\nBusId: 0 NodeId: 12\n")) << out;
    EXPECT_NE(out.find("Checking boot mode NodeId ... Accepted.\n"), std::string::npos) << out;
    EXPECT_NE(FlashLog().find("  C "), std::string::npos) << FlashLog();
}

TEST_F(DownloadFlowTest, ABootModeSearchThatNobodyAnswersDownloadsNothing) {
    WritePucImage();
    RunSettings settings = Settings(CMD_DOWNLOAD, MODE_PUC, 12, HexPath());
    settings.applNodeId = 31;
    EXPECT_EQ(RunPucDownload(settings, gateway_), kExitFailure);
    EXPECT_TRUE(console_.Text().ends_with(
        "Checking boot mode NodeId ... Error searching for boot mode NodeId 12.\n"))
        << console_.Text();
    EXPECT_EQ(gateway_.Count(CCB_CMD_WRITE_SUBBLOCK), 0u);
}

TEST_F(DownloadFlowTest, AFailedPucDownloadCancelsAndLogsNothing) {
    WritePucImage();
    gateway_.AddBoard({12, 12, true, FlowGateway::PucInfo()});
    gateway_.Refuse(CCB_CMD_WRITE_SUBBLOCK);
    const RunSettings settings = Settings(CMD_DOWNLOAD, MODE_PUC, 12, HexPath());

    EXPECT_EQ(RunPucDownload(settings, gateway_), kExitFailure);
    EXPECT_TRUE(console_.Text().ends_with("Download failed!")) << console_.Text();
    const std::vector<uint32_t>& commands = gateway_.Commands();
    ASSERT_GE(commands.size(), 3u);
    EXPECT_EQ(std::vector<uint32_t>(commands.end() - 3, commands.end()),
              (std::vector<uint32_t>{CCB_CMD_GET_STATUS, CCB_CMD_ABORT, CCB_CMD_FINALIZE}));
    EXPECT_FALSE(std::filesystem::exists(dir_.File("FLASH.LOG")));
}

TEST_F(DownloadFlowTest, HtSucceedsOnlyAfterItsSettlingPause) {
    orv::test::HexWriter().Bytes(0x0000, Pattern(2048, 3)).EndOfFile().Save(HexPath());
    gateway_.AddBoard({5, 5, true, FlowGateway::PucInfo()});
    RunSettings settings = Settings(CMD_DOWNLOAD, MODE_HT, 5, HexPath());

    EXPECT_EQ(RunHtDownload(settings, gateway_), kExitSuccess);
    ASSERT_FALSE(clock_.Sleeps().empty());
    EXPECT_EQ(clock_.Sleeps().back(), 5000u);
}

// DnlHTpdo: the firmware comes from the list; a base address fills the gaps between the used
// sub-blocks, so three sub-blocks go out where the file fills two.
TEST_F(DownloadFlowTest, HtPdoTakesItsFirmwareFromTheListAndFillsGapsOnlyWithABase) {
    for (const uint32_t base : {0x10000u, 0u}) {
        SCOPED_TRACE(base);
        FlowGateway gateway;
        gateway.AddBoard({5, 5, false, FlowGateway::HtInfo("HT-0001")});
        orv::test::HexWriter()
            .Bytes(base, Pattern(2048, 1))
            .Bytes(base + 2 * 2048, Pattern(2048, 2))
            .EndOfFile()
            .Save(dir_.File("ht.hex"));
        char list[64];
        std::snprintf(list, sizeof list, "HT-0001\tht.hex\t0x%X\n", base);
        orv::test::WriteFile(dir_.File("firmware.lst"), list);
        RunSettings settings = Settings(CMD_DOWNLOAD, MODE_HT_PDO, 5, dir_.File("firmware.lst"));

        EXPECT_EQ(RunHtDownload(settings, gateway), kExitSuccess) << console_.Text();
        EXPECT_STREQ(settings.hexFileName, dir_.File("ht.hex").c_str());
        const std::vector<uint8_t>& heads = gateway.RawFrameHeads();
        EXPECT_EQ(std::count(heads.begin(), heads.end(), 0x10), base != 0 ? 3 : 2);
    }
}

TEST_F(DownloadFlowTest, HtPdoWithAnUnlistedBoardSendsItBackAndDownloadsNothing) {
    gateway_.AddBoard({5, 5, false, FlowGateway::HtInfo("HT-0009")});
    orv::test::WriteFile(dir_.File("firmware.lst"), "HT-0001\tht.hex\t0\n");
    RunSettings settings = Settings(CMD_DOWNLOAD, MODE_HT_PDO, 5, dir_.File("firmware.lst"));

    EXPECT_EQ(RunHtDownload(settings, gateway_), kExitFailure);
    EXPECT_TRUE(console_.Text().ends_with("Firmware: HT-0009 -> no file found\n"));
    EXPECT_EQ(gateway_.Commands().back(), CCB_CMD_JUMP_TO_APP);
    EXPECT_EQ(console_.Text().find("Please wait... flashing\n"), std::string::npos);
}

}  // namespace
