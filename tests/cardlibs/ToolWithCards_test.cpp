// The tool as a process with the card libraries: where it finds them, what it says without
// them, and the one command that cannot go through a card.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/HexWriter.h"
#include "support/SimProcess.h"
#include "support/TestFiles.h"
#include "support/ToolRun.h"

namespace orv::test {
namespace {

using testing::EndsWith;
using testing::HasSubstr;
using testing::Not;
using testing::StartsWith;

constexpr int kExitFailure = 255;

struct Card {
    const char* argument;
    const char* windowsName;
    const char* sharedObject;
    // What the card's driver prints when it finds no library.
    const char* missingMessage;
};

const Card kCards[] = {
    {"NICAN", "nican.dll", "libnican.so", "ERROR: Can not load nican.dll library\n"},
    {"USBLIGHT", "CANAPI.DLL", "libcanapi.so", ""},
};

enum class Placement { Nowhere, SharedObjectBeside, WindowsNameBeside, LinkerPath };

TEST(ToolWithCards, FindsItsLibraryBesideItselfOrThroughTheLinkerPath) {
    const struct {
        const char* name;
        Placement placement;
    } placements[] = {
        {"nowhere", Placement::Nowhere},
        {"lib...so beside the tool", Placement::SharedObjectBeside},
        {"the Windows name beside the tool", Placement::WindowsNameBeside},
        {"LD_LIBRARY_PATH", Placement::LinkerPath},
    };
    for (const Card& card : kCards) {
        for (const auto& placement : placements) {
            SCOPED_TRACE(std::string(card.argument) + ", " + placement.name);
            TempDir dir;
            const std::string tool = dir.File("OrvFlashPuc");
            std::filesystem::copy_file(ORV_FLASH_PUC_BIN, tool);
            const std::string built = std::string(ORV_CARDLIBS_DIR) + "/" + card.sharedObject;
            if (placement.placement == Placement::SharedObjectBeside) {
                std::filesystem::copy_file(built, dir.File(card.sharedObject));
            } else if (placement.placement == Placement::WindowsNameBeside) {
                std::filesystem::copy_file(built, dir.File(card.windowsName));
            }
            ToolRunOptions options;
            options.program = tool;
            options.workDir = dir.Path();
            options.timeoutMs = 30000;
            options.env = {{"ORV_CAN_LINK", ""},
                           {"LD_LIBRARY_PATH",
                            placement.placement == Placement::LinkerPath ? ORV_CARDLIBS_DIR : ""}};
            const ToolResult r = RunTool({card.argument, "0", "GetInfoPUC", "12"}, options);

            EXPECT_EQ(r.exitCode, kExitFailure);
            EXPECT_THAT(r.out, EndsWith("Getting PUC BOOT info failed!"));
            if (placement.placement == Placement::Nowhere) {
                EXPECT_THAT(r.out, StartsWith(std::string("CAN card based communication\n") +
                                              card.missingMessage +
                                              "Please wait... reading PUC INFO block\n"));
                EXPECT_THAT(r.err, Not(HasSubstr("ORV_CAN_LINK")));
            } else {
                // Loaded: the library itself now says that it has no link to carry frames.
                EXPECT_THAT(r.out, StartsWith("CAN card based communication\nPlease wait..."));
                EXPECT_THAT(r.err, HasSubstr("ORV_CAN_LINK names no CAN link"));
            }
        }
    }
}

ToolRunOptions ThroughTheBridge(const SimProcess& sim, const TempDir& dir) {
    ToolRunOptions options;
    options.workDir = dir.Path();
    options.timeoutMs = 120000;
    options.env = {
        {"LD_LIBRARY_PATH", ORV_CARDLIBS_DIR},
        {"ORV_CAN_LINK", "socketcand:127.0.0.1:" + std::to_string(sim.BridgePort()) + "/can0"}};
    return options;
}

// Raw frames have no way through a card: the second initialisation step fails, the download
// is cleaned up and the run ends as failed, in bounded time.
TEST(ToolWithCards, HtOverPdoFailsSoundly) {
    for (const Card& card : kCards) {
        SCOPED_TRACE(card.argument);
        SimProcess sim({"--ht", "5", "--bridge", "0"});
        TempDir dir;
        HexWriter hex;
        hex.Bytes(0x01010000, std::vector<uint8_t>(2048, 0x5A)).EndOfFile();
        hex.Save(dir.File("ht.hex"));
        WriteFile(dir.File("list.txt"), "HT-0001\tht.hex\t0x01010000\n");
        const ToolResult r = RunTool({card.argument, "0", "DnlHTpdo", "5", dir.File("list.txt")},
                                     ThroughTheBridge(sim, dir));
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, kExitFailure) << r.out;
        EXPECT_THAT(r.out, HasSubstr("BusId: 0 NodeId: 5 HW: HT-0001\n"));
        EXPECT_THAT(r.out, HasSubstr("Dnl. initialization 2: FAILED\n"));
        EXPECT_THAT(r.out, EndsWith("Download failed!"));
    }
}

// The boot-node search ends with a transport reset, which closes a card for the rest of the
// run: the download that follows finds no node and fails cleanly.
TEST(ToolWithCards, ADownloadAfterTheBootNodeSearchFailsSoundly) {
    for (const Card& card : kCards) {
        SCOPED_TRACE(card.argument);
        SimProcess sim({"--puc", "31,boot=40", "--bridge", "0"});
        TempDir dir;
        HexWriter hex;
        hex.Bytes(0x5000, std::vector<uint8_t>(2048, 0x11)).EndOfFile();
        hex.Save(dir.File("app.hex"));
        const ToolResult r =
            RunTool({card.argument, "0", "DnlPUC", "12", dir.File("app.hex"), "31"},
                    ThroughTheBridge(sim, dir));
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, kExitFailure) << r.out;
        EXPECT_THAT(r.out, HasSubstr("New boot mode NodeId 40 will be used !\n"));
        EXPECT_THAT(r.out, HasSubstr("Error: Get status FAILED\n"));
        EXPECT_THAT(r.out, EndsWith("Download failed!"));
        EXPECT_FALSE(std::filesystem::exists(dir.File("FLASH.LOG")));
    }
}

}  // namespace
}  // namespace orv::test
