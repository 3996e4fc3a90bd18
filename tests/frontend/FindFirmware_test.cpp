#include <gtest/gtest.h>

#include <cstring>

#include "FlowGateway.h"
#include "frontend/ExitCodes.h"
#include "frontend/HardwareIdentification.h"
#include "platform/Console.h"
#include "support/FakeClock.h"
#include "support/TestFiles.h"
#include "transport/GatewayCodes.h"

namespace {

using orv::test::FlowGateway;

struct LookupCase {
    const char* name;
    std::string list;
    std::wstring hardware;
    std::wstring firmware;  // empty: not found
    uint32_t base;          // as left in a variable preset to 0xDEAD
};

class FindFirmwareFileTest : public testing::TestWithParam<LookupCase> {
  protected:
    orv::test::TempDir dir_;
};

TEST_P(FindFirmwareFileTest, ReadsTheListAsTheBoardsHaveAlwaysBeenListed) {
    const LookupCase& c = GetParam();
    const std::string path = dir_.File("firmware.lst");
    orv::test::WriteFile(path, c.list);
    uint32_t base = 0xDEAD;
    EXPECT_EQ(FindFirmwareFile(std::wstring(path.begin(), path.end()), c.hardware, base),
              c.firmware);
    EXPECT_EQ(base, c.base);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FindFirmwareFileTest,
    testing::Values(
        LookupCase{"Lf", "HT-A\ta.hex\t0x2000\nHT-B\tb.hex\t0x4000\n", L"HT-B", L"b.hex", 0x4000},
        LookupCase{"CrLf", "HT-A\ta.hex\t0x2000\r\nHT-B\tb.hex\t4000\r\n", L"HT-A", L"a.hex",
                   0x2000},
        LookupCase{"WithoutPrefix", "HT-A\ta.hex\t2000\n", L"HT-A", L"a.hex", 0x2000},
        LookupCase{"NoDigits", "HT-A\ta.hex\tzz\n", L"HT-A", L"a.hex", 0},
        LookupCase{"LeadingBlanksAndUpperCase", "HT-A\ta.hex\t  0X1fF\n", L"HT-A", L"a.hex", 0x1FF},
        LookupCase{"BeyondThirtyTwoBits", "HT-A\ta.hex\t123456789\n", L"HT-A", L"a.hex",
                   0xFFFFFFFF},
        LookupCase{"Negative", "HT-A\ta.hex\t-2\n", L"HT-A", L"a.hex", 0xFFFFFFFE},
        LookupCase{"LastLineWithoutEnd", "HT-A\ta.hex\t0x10", L"HT-A", L"a.hex", 0x10},
        // The key is found anywhere, here as the tail of an earlier first column.
        LookupCase{"InsideALongerText", "XHT-A\tx.hex\t0x1\nHT-A\ta.hex\t0x2\n", L"HT-A", L"x.hex",
                   0x1},
        // Without its second TAB an entry takes the next TAB of the file.
        LookupCase{"SecondTabOnALaterLine", "HT-A\ta.hex\nHT-B\tb.hex\t0x7\n", L"HT-A",
                   L"a.hex\nHT-B", 0},
        LookupCase{"NotListed", "HT-A\ta.hex\t0x2000\n", L"HT-C", L"", 0xDEAD},
        LookupCase{"NoSecondTabAtAll", "HT-A\ta.hex\n", L"HT-A", L"", 0xDEAD},
        LookupCase{"ReadingStopsAtANul", std::string("HT-A\ta.hex\0\t0x5\n", 16), L"HT-A", L"",
                   0xDEAD}),
    [](const testing::TestParamInfo<LookupCase>& info) { return info.param.name; });

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
         {Case{"lists/firmware.lst", L"ht.hex", "lists/ht.hex"},
          Case{"C:\\lists\\firmware.lst", L"ht.hex", "C:\\lists\\ht.hex"},
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

class IdentifyTest : public testing::Test {
  protected:
    IdentifyTest() {
        settings_.mode = MODE_HT_PDO;
        settings_.command = CMD_IDENTIFY;
        settings_.nodeId = 5;
        std::strcpy(settings_.hexFileName, dir_.File("firmware.lst").c_str());
        orv::test::WriteFile(dir_.File("firmware.lst"), "HT-0001\tht.hex\t0x01010000\n");
    }

    orv::test::TempDir dir_;
    orv::test::FakeClock clock_;
    orv::ConsoleCapture console_;
    FlowGateway gateway_;
    RunSettings settings_;
};

TEST_F(IdentifyTest, PrintsTheFirmwareAndOffsetAndLeavesTheBoardRunning) {
    gateway_.AddBoard({5, 5, false, FlowGateway::HtInfo("HT-0001")});
    EXPECT_EQ(RunIdentify(settings_, gateway_), kExitSuccess);
    EXPECT_EQ(console_.Text(),
              "Please wait... identifying hardware\n"
              "BusId: 0 NodeId: 5 HW: HT-0001\n"
              "Firmware: HT-0001 -> " +
                  dir_.File("ht.hex") +
                  "\n"
                  "Offset: 0x1010000\n");
    EXPECT_EQ(gateway_.Commands().back(), CCB_CMD_JUMP_TO_APP);
}

TEST_F(IdentifyTest, ABoardThatGivesNoIdentificationFails) {
    EXPECT_EQ(RunIdentify(settings_, gateway_), kExitFailure);
    EXPECT_TRUE(console_.Text().ends_with("BusId: 0 NodeId: 5 -> can't identify HW\n"));
}

TEST_F(IdentifyTest, AnUnlistedBoardFails) {
    gateway_.AddBoard({5, 5, false, FlowGateway::HtInfo("HT-0002")});
    EXPECT_EQ(RunIdentify(settings_, gateway_), kExitFailure);
    EXPECT_TRUE(console_.Text().ends_with("Firmware: HT-0002 -> no file found\n"));
}

}  // namespace
