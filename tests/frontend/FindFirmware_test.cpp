#include <gtest/gtest.h>

#include <cstring>

#include "FlowGateway.h"
#include "frontend/ExitCodes.h"
#include "frontend/HardwareIdentification.h"
#include "os/Console.h"
#include "support/FakeClock.h"
#include "support/TestFiles.h"
#include "transport/GatewayCodes.h"

namespace {

using orv::test::FlowGateway;

// The list as the boards have always been listed, quirks included.
TEST(FindFirmwareFile, ReadsTheList) {
    struct Case {
        std::string list;
        std::wstring hardware;
        std::wstring firmware;  // empty: not found
        uint32_t base;          // as left in a variable preset to 0xDEAD
    };
    const Case cases[] = {
        {"HT-A\ta.hex\t0x2000\nHT-B\tb.hex\t0x4000\n", L"HT-B", L"b.hex", 0x4000},
        {"HT-A\ta.hex\t0x2000\r\nHT-B\tb.hex\t4000\r\n", L"HT-A", L"a.hex", 0x2000},
        {"HT-A\ta.hex\t2000\n", L"HT-A", L"a.hex", 0x2000},
        {"HT-A\ta.hex\tzz\n", L"HT-A", L"a.hex", 0},
        {"HT-A\ta.hex\t123456789\n", L"HT-A", L"a.hex", 0xFFFFFFFF},
        {"HT-A\ta.hex\t0x10", L"HT-A", L"a.hex", 0x10},
        // The key is found anywhere, here as the tail of an earlier first column.
        {"XHT-A\tx.hex\t0x1\nHT-A\ta.hex\t0x2\n", L"HT-A", L"x.hex", 0x1},
        // Without its second TAB an entry takes the next TAB of the file.
        {"HT-A\ta.hex\nHT-B\tb.hex\t0x7\n", L"HT-A", L"a.hex\nHT-B", 0},
        {"HT-A\ta.hex\t0x2000\n", L"HT-C", L"", 0xDEAD},
        {"HT-A\ta.hex\n", L"HT-A", L"", 0xDEAD},
        {std::string("HT-A\ta.hex\0\t0x5\n", 16), L"HT-A", L"", 0xDEAD},  // stops at a NUL
    };
    orv::test::TempDir dir;
    const std::string path = dir.File("firmware.lst");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        orv::test::WriteFile(path, c.list);
        uint32_t base = 0xDEAD;
        EXPECT_EQ(FindFirmwareFile(std::wstring(path.begin(), path.end()), c.hardware, base),
                  c.firmware);
        EXPECT_EQ(base, c.base);
    }
}

TEST(FindFirmwareFile, AMissingListFindsNothing) {
    uint32_t base = 7;
    EXPECT_EQ(FindFirmwareFile(L"/nonexistent/firmware.lst", L"HT-A", base), L"");
    EXPECT_EQ(base, 7u);
}

TEST(SetFirmwarePath, PutsTheNameInTheListsDirectory) {
    struct Case {
        const char* list;
        const wchar_t* name;
        const char* path;
    };
    for (const Case& c :
         {Case{"C:\\lists\\firmware.lst", L"ht.hex", "C:\\lists\\ht.hex"},
          Case{"a\\b/firmware.lst", L"sub\\ht.hex", "a\\b/sub\\ht.hex"},
          Case{"firmware.lst", L"ht.hex", "ht.hex"}, Case{"/firmware.lst", L"ht.hex", "ht.hex"}}) {
        SCOPED_TRACE(c.list);
        RunSettings settings;
        std::strcpy(settings.hexFileName, c.list);
        SetFirmwarePath(settings, c.name);
        EXPECT_STREQ(settings.hexFileName, c.path);
    }
}

TEST(SetFirmwarePath, KeepsAtMost259Characters) {
    RunSettings settings;
    std::strcpy(settings.hexFileName, "dir/list");
    SetFirmwarePath(settings, std::wstring(300, L'x'));
    EXPECT_EQ(std::strlen(settings.hexFileName), 259u);
    EXPECT_EQ(std::string(settings.hexFileName, 4), "dir/");
}

TEST(RunIdentify, NamesTheFirmwareOfAListedBoardAndFailsOtherwise) {
    orv::test::TempDir dir;
    orv::test::FakeClock clock;
    orv::test::WriteFile(dir.File("firmware.lst"), "HT-0001\tht.hex\t0x01010000\n");
    const std::pair<const char*, std::string> cases[] = {
        {"HT-0001", "BusId: 0 NodeId: 5 HW: HT-0001\nFirmware: HT-0001 -> " + dir.File("ht.hex") +
                        "\nOffset: 0x1010000\n"},
        {nullptr, "BusId: 0 NodeId: 5 -> can't identify HW\n"},
    };
    for (const auto& [identification, ending] : cases) {
        orv::ConsoleCapture console;
        FlowGateway gateway;
        if (identification != nullptr)
            gateway.AddBoard({5, 5, false, FlowGateway::HtInfo(identification)});
        RunSettings settings;
        settings.mode = MODE_HT_PDO;
        settings.command = CMD_IDENTIFY;
        settings.nodeId = 5;
        std::strcpy(settings.hexFileName, dir.File("firmware.lst").c_str());
        const bool found = ending.ends_with("0x1010000\n");
        EXPECT_EQ(RunIdentify(settings, gateway), found ? kExitSuccess : kExitFailure);
        EXPECT_TRUE(console.Text().ends_with(ending)) << console.Text();
        if (found) {
            EXPECT_EQ(console.Text(), "Please wait... identifying hardware\n" + ending);
            EXPECT_EQ(gateway.Commands().back(), CCB_CMD_JUMP_TO_APP);
        }
    }
}

}  // namespace
