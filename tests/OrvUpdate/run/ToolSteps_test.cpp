#include "OrvUpdate/run/ToolSteps.h"

#include <gtest/gtest.h>

namespace orv::update {
namespace {

Board Valve(BoardKind kind) {
    Board board;
    board.name = "valve";
    board.route = "CCB3";
    board.bus = 1;
    board.node = 13;
    board.bootNode = 22;
    board.kind = kind;
    board.path = "/fw/valve.hex";
    return board;
}

// The application's node ID goes where the tool wants a running application, the boot
// loader's everywhere else.
TEST(ToolSteps, AddressTheApplicationOrTheBootLoaderAsEachCommandWants) {
    const Board puc = Valve(BoardKind::Puc);
    EXPECT_EQ(ToBootArgs(puc), (ToolArgs{"CCB3", "1", "ToBoot", "13"}));
    EXPECT_EQ(GetInfoArgs(puc), (ToolArgs{"CCB3", "1", "GetInfoPUC", "22"}));
    EXPECT_EQ(ToAppArgs(puc), (ToolArgs{"CCB3", "1", "ToApp", "22"}));
    EXPECT_EQ(DownloadArgs(puc, false),
              (ToolArgs{"CCB3", "1", "DnlPUC", "22", "/fw/valve.hex", "13"}));
    EXPECT_EQ(DownloadArgs(puc, true), (ToolArgs{"CCB3", "1", "DnlPUC", "22", "/fw/valve.hex"}));
    EXPECT_EQ(VerifyArgs(puc), (ToolArgs{"CCB3", "1", "VerPUC", "22", "/fw/valve.hex"}));
    EXPECT_EQ(DownloadArgs(Valve(BoardKind::Ht), false),
              (ToolArgs{"CCB3", "1", "DnlHT", "22", "/fw/valve.hex"}));
    EXPECT_EQ(DownloadArgs(Valve(BoardKind::HtPdo), false),
              (ToolArgs{"CCB3", "1", "DnlHTpdo", "22", "/fw/valve.hex"}));
}

TEST(ToolSteps, ReadTheFlashReportOfGetInfoPuc) {
    const std::string head = "Going to boot mode (for PUC) OK\n";
    struct Case {
        std::string output;
        std::optional<FlashReport> expected;
    };
    const Case cases[] = {
        {head + "FLASH memory contains valid application flag (0xA5A5)\nApp file check sum: "
                "0x1E99\nApp entry address is 0x2000\n",
         FlashReport{true, 0x1E99}},
        {head + "App file check sum: 0x0\n", FlashReport{true, 0}},
        {head + "FLASH memory contains no application\n", FlashReport{false, 0}},
        {head + "App file check sum: 0x12345\n", std::nullopt},
        {head + "App file check sum: 0x\n", std::nullopt},
        {head + "App file check sum: 0x1E99", std::nullopt},  // cut short
        {"PUC is not in BOOT code, or there is no connection with it\n", std::nullopt},
    };
    for (const Case& c : cases) {
        const auto report = ParseFlashReport(c.output);
        ASSERT_EQ(report.has_value(), c.expected.has_value()) << c.output;
        if (report) {
            EXPECT_EQ(report->holdsApplication, c.expected->holdsApplication) << c.output;
            EXPECT_EQ(report->checksum, c.expected->checksum) << c.output;
        }
    }
}

}  // namespace
}  // namespace orv::update
