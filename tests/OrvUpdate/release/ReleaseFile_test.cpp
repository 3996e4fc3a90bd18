#include <gtest/gtest.h>

#include "OrvUpdate/release/Release.h"
#include "support/HexWriter.h"
#include "support/TestFiles.h"

namespace orv::update {
namespace {

using orv::test::TempDir;
using orv::test::WriteFile;

// A PUC board at node 12 behind the gateway, its image one byte at 0x5000.
constexpr const char* kGoodBoard = R"([[board]]
name = "pump"
route = "127.0.0.1:41235"
node = 12
kind = "PUC"
hex = "pump.hex"
)";

class ReleaseFileTest : public ::testing::Test {
  protected:
    ReleaseFileTest() {
        orv::test::HexWriter().Data(0x5000, {0x01, 0x02}).EndOfFile().Save(dir_.File("pump.hex"));
        WriteFile(dir_.File("broken.hex"), ":10500000\n");
        WriteFile(dir_.File("ht.lst"), "HT-0001\tpump.hex\t0x00000000\n");
    }

    ReleaseReading Read(const std::string& text) {
        WriteFile(dir_.File("release.toml"), text);
        return ReadRelease(dir_.File("release.toml"));
    }

    TempDir dir_;
};

TEST_F(ReleaseFileTest, AcceptsAGoodReleaseWithTheImageChecksumAndPathsBesideIt) {
    const ReleaseReading reading = Read(std::string("release = \"4.6\"\n") + kGoodBoard +
                                        "[[board]]\nname = \"hv_supply.2\"\nroute = \"CCB1\"\nbus "
                                        "= 255\nnode = 127\nboot-node = 1\n"
                                        "kind = \"ht-pdo\"\nfirmware-list = \"ht.lst\"\n");
    ASSERT_TRUE(reading.refusals.empty()) << reading.refusals.front();
    ASSERT_EQ(reading.release.boards.size(), 2u);
    const Board& pump = reading.release.boards[0];
    EXPECT_EQ(pump.path, dir_.File("pump.hex"));
    EXPECT_EQ(pump.bootNode, 12);
    EXPECT_EQ(pump.imageChecksum, 0xF800 - 0xFF - 0xFF + 1 + 2);  // sub-block 10, two bytes set
    const Board& hv = reading.release.boards[1];
    EXPECT_EQ(hv.kind, BoardKind::HtPdo);
    EXPECT_EQ(hv.bus, 255);  // the bounds are accepted
    EXPECT_EQ(hv.node, 127);
    EXPECT_EQ(hv.bootNode, 1);
    EXPECT_FALSE(hv.imageChecksum.has_value());
}

// Each bad release is refused with the line that holds the fault and the reason.
TEST_F(ReleaseFileTest, RefusesABadReleaseWithLineAndReason) {
    const std::string board = kGoodBoard;
    const auto edit = [](std::string text, const std::string& from, const std::string& to) {
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    const auto with = [&](const std::string& from, const std::string& to) {
        return edit(board, from, to);
    };
    const std::string pump2 = with("\"pump\"", "\"pump2\"");
    struct Case {
        std::string text;
        int line;
        std::string reason;
    };
    const Case cases[] = {
        {"[[board]\nname = 1\n", 1, ""},  // TOML syntax
        {"", 1, "no [[board]] tables"},
        {"colour = \"red\"\n" + board, 1, "unknown key 'colour'"},
        {with("kind", "speed = 3\nkind"), 5, "unknown key 'speed'"},
        {with("name = \"pump\"\n", ""), 1, "board has no 'name'"},
        {with("route = \"127.0.0.1:41235\"\n", ""), 1, "board has no 'route'"},
        {with("node = 12\n", ""), 1, "board has no 'node'"},
        {with("node = 12", "node = 128"), 4, "node must be a whole number from 1 to 127"},
        {with("node = 12", "node = \"12\""), 4, "node must be a whole number"},
        {with("node = 12", "node = 12\nboot-node = 0"), 5, "boot-node must be a whole number"},
        {with("node = 12", "node = 12\nbus = 256"), 5, "bus must be a whole number from 0 to 255"},
        {with("node = 12", "node = 12\nbus = -1"), 5, "bus must be a whole number from 0 to 255"},
        {with("node = 12", "node = 0"), 4, "node must be a whole number from 1 to 127"},
        {with("kind = \"PUC\"\n", ""), 1, "board has no 'kind'"},
        {with("\"PUC\"", "\"CAN\""), 5, "kind must be PUC, HT or HT-PDO"},
        {with("\"pump\"", "\"pump/left\""), 2, "name may hold only letters"},
        {with("\"pump\"", "\"\""), 2, "name must be a non-empty text"},
        {with("hex = \"pump.hex\"\n", ""), 1, "board has no 'hex'"},
        {with("pump.hex", "missing.hex"), 6,
         "missing.hex does not load: Error: Can not find HEX file"},
        {with("pump.hex", "broken.hex"), 6, "broken.hex does not load: Error reading hex file"},
        {with("hex = \"pump.hex\"", "firmware-list = \"ht.lst\""), 6,
         "PUC takes hex, not firmware-list"},
        {with("\"PUC\"", "\"HT-PDO\""), 6, "HT-PDO takes firmware-list, not hex"},
        {board + pump2, 7, "board pump2 has the address of board pump (line 1)"},
        {board + edit(pump2, "node = 12", "node = 13\nboot-node = 12"), 7,
         "has the address of board pump"},
        {board + with("node = 12", "node = 13"), 7, "a second board named pump (line 1)"},
    };
    for (const Case& c : cases) {
        const ReleaseReading reading = Read(c.text);
        ASSERT_FALSE(reading.refusals.empty()) << c.text;
        const std::string expected =
            dir_.File("release.toml") + ":" + std::to_string(c.line) + ": ";
        EXPECT_EQ(reading.refusals.front().rfind(expected, 0), 0u) << c.text << "\n"
                                                                   << reading.refusals.front();
        EXPECT_NE(reading.refusals.front().find(c.reason), std::string::npos)
            << c.text << "\n"
            << reading.refusals.front();
    }
}

}  // namespace
}  // namespace orv::update
