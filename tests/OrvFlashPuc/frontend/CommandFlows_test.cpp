#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "frontend/CommandDriver.h"
#include "frontend/DownloadFlows.h"
#include "frontend/ExitCodes.h"
#include "frontend/HardwareIdentification.h"
#include "support/HexWriter.h"
#include "support/NodeGateway.h"
#include "transport/GatewayRecords.h"

namespace orv::test {
namespace {

// Runs in the test's directory, where FLASH.LOG lands.
class FlowTest : public NodeGatewayTest {
  protected:
    FlowTest() : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir.Path());
    }
    ~FlowTest() override { std::filesystem::current_path(previous_); }

    RunSettings Settings(int mode, int command, const std::string& file = "app.hex") {
        RunSettings settings;
        settings.mode = mode;
        settings.command = command;
        settings.nodeId = 12;
        std::strcpy(settings.hexFileName, dir.File(file).c_str());
        return settings;
    }
    // A PUC image in sub-blocks 10 (0x5000) and 36 (0x12000).
    void WritePucImage() {
        HexWriter()
            .Bytes(0x5000, std::vector<uint8_t>(2048, 1))
            .Bytes(0x12000, std::vector<uint8_t>(2048, 7))
            .EndOfFile()
            .Save(dir.File("app.hex"));
    }

    std::filesystem::path previous_;
};

// The driver's first lines and the operation's last word; their success through a real
// gateway is proven end to end. VerPUC needs a PUC; SetIdPUC runs in any mode.
TEST_F(FlowTest, DispatchRunsTheCommandOfTheModeOrRefusesIt) {
    const std::string refused = "Error - unsupported protocol!";
    const std::string node12 = "\nBusId: 0 NodeId: 12\n";
    WritePucImage();
    const std::tuple<int, int, int, std::string, std::string> cases[] = {
        {MODE_PUC, CMD_VERIFY, kExitFailure,
         "Please wait... verifying\nBusId: 0 NodeId: 12 HexFileName: " + dir.File("app.hex") + "\n",
         "Error in TCP/IP communication\nVerify failed!"},
        {MODE_HT, CMD_GET_INFO, kExitFailure, refused, refused},
        {MODE_HT, CMD_TO_APP, kExitFailure, "Please wait... jumping to application" + node12,
         "Jumping to application failed!"},
        {MODE_HT, CMD_SET_ID, kExitFailure,
         "Please wait... changing device BOOT CAN ID\nBusId: 0\n", "CAN ID changing failed!"},
        {MODE_HT, CMD_SCAN, kExitSuccess,
         "Please wait... scanning devices in BOOT mode (this can last about 60 seconds)\nBusId: "
         "0\n",
         "Detected nodes in BOOT mode:\nNone\n"},
        {MODE_HT, CMD_TO_BOOT, kExitFailure, "Please wait... going to BOOT mode" + node12,
         "Error in TCP/IP communication\n"},
    };
    for (const auto& [mode, command, exitCode, opening, ending] : cases) {
        gateway = NodeGateway();
        gateway.faults = {TransportFault(CCB_CMD_BOOT_INIT)};
        RunSettings settings = Settings(mode, command);
        EXPECT_EQ(DispatchCommand(settings, gateway), exitCode) << opening;
        const std::string out = console.Take();
        EXPECT_TRUE(out.starts_with(opening) && out.ends_with(ending)) << out;
        EXPECT_EQ(gateway.calls.empty(), opening == refused);
    }
    // A scan that cannot take the bus finds nobody and fails.
    gateway = NodeGateway();
    gateway.faults = {TransportFault(CCB_CMD_SELECT_VARIANT_1)};
    RunSettings scan = Settings(MODE_PUC, CMD_SCAN);
    EXPECT_EQ(DispatchCommand(scan, gateway), kExitFailure);
    EXPECT_TRUE(console.Take().ends_with("Error in TCP/IP communication\nScanning failed!"));
}

// The named node is searched in boot mode first; a download that fails is cancelled and logged
// nowhere. Another node, and two in boot mode, are proven end to end.
TEST_F(FlowTest, TheBootModeSearchAcceptsTheNamedNodeOrFindsNobody) {
    WritePucImage();
    for (const std::string variant : {"write fails", "nobody", "accepted"}) {
        SCOPED_TRACE(variant);
        gateway = NodeGateway();
        if (variant != "nobody") {
            gateway.AddNode(12).applicationId = 31;
            gateway.nodes[0].inBootMode = false;
        }
        if (variant == "write fails")
            gateway.faults = {StatusFault(CCB_CMD_WRITE_SUBBLOCK, CCB_STATUS_NO_REPLY)};
        RunSettings settings = Settings(MODE_PUC, CMD_DOWNLOAD);
        settings.applNodeId = 31;
        const bool accepted = variant == "accepted", fails = variant == "write fails";
        EXPECT_EQ(RunPucDownload(settings, gateway), accepted ? kExitSuccess : kExitFailure);
        const std::string out = console.Take();
        const std::string search =
            variant == "nobody" ? "Error searching for boot mode NodeId 12." : "Accepted.";
        EXPECT_NE(out.find("NodeId ... " + search + "\n"), std::string::npos) << out;
        EXPECT_EQ(out.ends_with("Download failed!"), fails);
        EXPECT_EQ(gateway.Steps().ends_with("201 0:5000, 207, 202, 206, reset"), fails);
        EXPECT_EQ(gateway.CallsOf(CCB_CMD_WRITE_SUBBLOCK).size(), accepted ? 2u : unsigned(fails));
        EXPECT_EQ(ReadFile("FLASH.LOG").find("  C "), accepted ? 30u : std::string::npos);
    }
}

// DnlHTpdo takes its firmware from the list; a base address fills the gaps between the used
// sub-blocks (three go out where the file fills two). An unlisted board goes back. The board
// gets its settling pause after any HT download; DnlHT and identification run end to end.
TEST_F(FlowTest, HtPdoDownloadsTheListedFirmwareAndFillsGapsOnlyWithABase) {
    for (const auto& [identification, offset, headers, ending] :
         {std::tuple<std::string, std::string, int, std::string>{"HT-0001", "0x10000", 3, ""},
          {"HT-0001", "0", 2, ""},
          {"HT-0009", "0", 0, "Firmware: HT-0009 -> no file found\n"},
          {"", "0", 0, "BOOT mode!\nBusId: 0 NodeId: 12 -> can't identify HW\n"}}) {
        SCOPED_TRACE(identification + offset);
        const auto base = static_cast<uint32_t>(std::stoul(offset, nullptr, 16));
        gateway = NodeGateway();
        if (!identification.empty()) {
            gateway.AddNode(12).inBootMode = false;
            gateway.nodes[0].identification = identification;
        }
        HexWriter()
            .Bytes(base, std::vector<uint8_t>(2048, 1))
            .Bytes(base + 4096, std::vector<uint8_t>(2048, 2))
            .EndOfFile()
            .Save(dir.File("ht.hex"));
        WriteFile(dir.File("firmware.lst"), "HT-0001\tht.hex\t" + offset + "\n");
        RunSettings settings = Settings(MODE_HT_PDO, CMD_DOWNLOAD, "firmware.lst");
        EXPECT_EQ(RunHtDownload(settings, gateway), headers > 0 ? kExitSuccess : kExitFailure);
        EXPECT_TRUE(console.Take().ends_with(headers > 0 ? "Download successful!\n" : ending));
        int sent = 0;
        for (const GatewayCall& call : gateway.CallsOf(CCB_CMD_SEND_FRAME))
            sent += call.payload.at(offsetof(CanFrameRequest, data)) == 0x10;  // a sub-block header
        EXPECT_EQ(sent, headers);
        // The board is asked back into its application after the download, or at once.
        const std::string back = identification.empty() ? "" : ", 205";
        EXPECT_TRUE(gateway.Steps().ends_with(
            headers > 0 ? "reset, open 12, 213, 218 node 12, 208, sleep 5000"
                        : "open 12, 213, 218 node 12, 208" + back))
            << gateway.Steps();
        EXPECT_EQ(settings.hexFileName == dir.File("ht.hex"), headers > 0);
    }
}

// The list as the boards have always been listed, quirks included.
TEST(FindFirmwareFile, ReadsTheList) {
    // The base address is as left in a variable preset to 0xDEAD; no firmware: not found.
    const std::tuple<std::string, std::wstring, std::wstring, uint32_t> cases[] = {
        {"HT-A\ta.hex\t0x2000\nHT-B\tb.hex\t0x4000\n", L"HT-B", L"b.hex", 0x4000},
        {"HT-A\ta.hex\t2000\r\n", L"HT-A", L"a.hex", 0x2000},
        // The offset reads as a 32-bit strtoul: it saturates, and a minus sign negates.
        {"HT-A\ta.hex\tFFFFFFFF\n", L"HT-A", L"a.hex", 0xFFFFFFFF},
        {"HT-A\ta.hex\t100000000\n", L"HT-A", L"a.hex", 0xFFFFFFFF},
        {"HT-A\ta.hex\t-FFFFFFFF\n", L"HT-A", L"a.hex", 1},
        {"HT-A\ta.hex\tzz\n", L"HT-A", L"a.hex", 0},
        // The key is found anywhere, here as the tail of an earlier first column.
        {"XHT-A\tx.hex\t0x1\nHT-A\ta.hex\t0x2\n", L"HT-A", L"x.hex", 0x1},
        // Without its second TAB an entry takes the next TAB of the file.
        {"HT-A\ta.hex\nHT-B\tb.hex\t0x7\n", L"HT-A", L"a.hex\nHT-B", 0},
        {"HT-A\ta.hex\t0x2000\n", L"HT-C", L"", 0xDEAD},
        {"", L"", L"", 0xDEAD},  // no list at all
    };
    TempDir dir;
    for (const auto& [list, hardware, firmware, expectedBase] : cases) {
        const std::string path = dir.File(list.empty() ? "missing" : "firmware.lst");
        if (!list.empty())
            WriteFile(path, list);
        uint32_t base = 0xDEAD;
        EXPECT_EQ(FindFirmwareFile(std::wstring(path.begin(), path.end()), hardware, base),
                  firmware)
            << list;
        EXPECT_EQ(base, expectedBase);
    }
}

// The firmware sits in the list's folder; a list named from the root or from nowhere names it
// alone, and a path too long for the settings is cut.
TEST(SetFirmwarePath, PutsTheFirmwareBesideTheList) {
    const std::string longFolder(255, 'd');
    const std::pair<std::string, std::string> cases[] = {
        {"lists/hw.lst", "lists/fw.hex"},
        {"C:\\hw\\x\\hw.lst", "C:\\hw\\x\\fw.hex"},
        {"hw.lst", "fw.hex"},
        {"/hw.lst", "fw.hex"},
        {longFolder + "/l", (longFolder + "/fw.hex").substr(0, 259)},
    };
    for (const auto& [list, firmware] : cases) {
        RunSettings settings;
        settings.mode = MODE_HT_PDO;  // the field after the name: a cut name must end before it
        std::strcpy(settings.hexFileName, list.c_str());
        SetFirmwarePath(settings, L"fw.hex");
        EXPECT_EQ(settings.hexFileName, firmware);
    }
}

}  // namespace
}  // namespace orv::test
