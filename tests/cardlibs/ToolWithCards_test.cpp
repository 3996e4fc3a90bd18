// The tool as a process with the card libraries: where it finds them, what it says without
// them, and the runs that cannot go through a card.
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
using testing::StartsWith;

constexpr int kExitFailure = 255;

const struct Card {
    const char* argument;
    const char* windowsName;
    const char* sharedObject;
    const char* missingMessage;  // what the driver prints when it finds no library
} kCards[] = {
    {"NICAN", "nican.dll", "libnican.so", "ERROR: Can not load nican.dll library\n"},
    {"USBLIGHT", "CANAPI.DLL", "libcanapi.so", ""},
};

TEST(ToolWithCards, FindsItsLibraryBesideItselfOrThroughTheLinkerPath) {
    for (const Card& card : kCards) {
        // Where the library is put: nowhere, beside the tool under either name, the linker path.
        for (const std::string placed : {"", card.sharedObject, card.windowsName, "linker"}) {
            SCOPED_TRACE(std::string(card.argument) + " " + placed);
            TempDir dir;
            ToolRunOptions options;
            options.program = dir.File("OrvFlashPuc");
            std::filesystem::copy_file(ORV_FLASH_PUC_BIN, options.program);
            if (!placed.empty() && placed != "linker") {
                std::filesystem::copy_file(std::string(ORV_CARDLIBS_DIR) + "/" + card.sharedObject,
                                           dir.File(placed));
            }
            options.workDir = dir.Path();
            options.timeoutMs = 30000;
            options.env = {{"ORV_CAN_LINK", ""},
                           {"LD_LIBRARY_PATH", placed == "linker" ? ORV_CARDLIBS_DIR : ""}};
            const ToolResult r = RunTool({card.argument, "0", "GetInfoPUC", "12"}, options);

            EXPECT_EQ(r.exitCode, kExitFailure);
            EXPECT_THAT(r.out, EndsWith("Getting PUC BOOT info failed!"));
            // Once loaded, the library itself says that it has no link to carry frames.
            EXPECT_THAT(r.out, StartsWith(std::string("CAN card based communication\n") +
                                          (placed.empty() ? card.missingMessage : "") +
                                          "Please wait... reading PUC INFO block\n"));
            EXPECT_EQ(r.err.find("ORV_CAN_LINK names no CAN link") != std::string::npos,
                      !placed.empty());
        }
    }
}

// Raw frames have no way through a card, so an HT download over PDOs fails at its second
// initialisation step; and the boot-node search ends with a transport reset, which closes a
// card for the rest of the run. Both end as failed, cleaned up, in bounded time.
TEST(ToolWithCards, RunsACardCannotCarryFailSoundly) {
    const struct {
        std::vector<std::string> sim, args;
        std::vector<std::string> said;
    } cases[] = {
        {{"--ht", "5"},
         {"DnlHTpdo", "5", "list.txt"},
         {"BusId: 0 NodeId: 5 HW: HT-0001\n", "Dnl. initialization 2: FAILED\n"}},
        {{"--puc", "31,boot=40"},
         {"DnlPUC", "12", "app.hex", "31"},
         {"New boot mode NodeId 40 will be used !\n", "Error: Get status FAILED\n"}},
    };
    for (const Card& card : kCards) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(card.argument) + " " + c.args[0]);
            std::vector<std::string> simArgs = c.sim;
            simArgs.insert(simArgs.end(), {"--bridge", "0"});
            SimProcess sim(simArgs);
            TempDir dir;
            HexWriter hex;
            hex.Bytes(0x01010000, std::vector<uint8_t>(2048, 0x5A)).EndOfFile();
            hex.Save(dir.File("ht.hex"));
            WriteFile(dir.File("list.txt"), "HT-0001\tht.hex\t0x01010000\n");
            HexWriter app;
            app.Bytes(0x5000, std::vector<uint8_t>(2048, 0x11)).EndOfFile();
            app.Save(dir.File("app.hex"));
            ToolRunOptions options;
            options.workDir = dir.Path();
            options.env = {{"LD_LIBRARY_PATH", ORV_CARDLIBS_DIR},
                           {"ORV_CAN_LINK",
                            "socketcand:127.0.0.1:" + std::to_string(sim.BridgePort()) + "/can0"}};
            std::vector<std::string> args = {card.argument, "0"};
            args.insert(args.end(), c.args.begin(), c.args.end());
            const ToolResult r = RunTool(args, options);

            EXPECT_FALSE(r.timedOut);
            EXPECT_EQ(r.exitCode, kExitFailure) << r.out;
            for (const std::string& line : c.said) {
                EXPECT_THAT(r.out, HasSubstr(line));
            }
            EXPECT_THAT(r.out, EndsWith("Download failed!"));
            EXPECT_FALSE(std::filesystem::exists(dir.File("FLASH.LOG")));
        }
    }
}

}  // namespace
}  // namespace orv::test
