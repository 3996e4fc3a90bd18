#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/SimProcess.h"
#include "support/TestFiles.h"
#include "support/ToolRun.h"

// OrvUpdate against two simulated buses: one behind a gateway board, one behind the
// Ethernet-to-CAN route. The smallest images keep it short; the whole example instrument is
// the benchmark's.
namespace orv::update {
namespace {

using orv::test::TempDir;

const std::string kExamples = ORV_SOURCE_DIR "/examples/instrument/";

std::string BoardTable(const std::string& name, const std::string& route, int node, int bootNode,
                       const std::string& hex) {
    return "[[board]]\nname = \"" + name + "\"\nroute = \"" + route +
           "\"\nnode = " + std::to_string(node) + "\nboot-node = " + std::to_string(bootNode) +
           "\nkind = \"PUC\"\nhex = \"" + kExamples + hex + "\"\n";
}

const nlohmann::json& BoardIn(const nlohmann::json& report, const std::string& name) {
    for (const nlohmann::json& board : report["boards"]) {
        if (board["name"] == name) {
            return board;
        }
    }
    throw std::runtime_error("no board " + name + " in the report");
}

bool Downloaded(const nlohmann::json& board) {
    for (const nlohmann::json& step : board["steps"]) {
        if (step["command"].get<std::string>().find(" Dnl") != std::string::npos) {
            return true;
        }
    }
    return false;
}

TEST(InstrumentUpdate, FlashesEveryBoardReportsTheRefusingOneAndThenSkipsTheCurrentOnes) {
    orv::test::SimProcess gateway({"--puc", "12", "--puc", "13,boot=22", "--gateway", "0:0"});
    orv::test::SimProcess ethernet(
        {"--puc", "12", "--puc", "14,status-error=201:0x85", "--bridge", "0"});
    const std::string gatewayRoute = "127.0.0.1:" + std::to_string(gateway.GatewayPort(0));
    const std::string ethernetRoute =
        "Ethernet2CAN:127.0.0.1:" + std::to_string(ethernet.BridgePort()) + "/can0";
    const std::string good = BoardTable("pump", gatewayRoute, 12, 12, "pump.hex") +
                             BoardTable("valve", gatewayRoute, 13, 22, "valve.hex") +
                             BoardTable("detector", ethernetRoute, 12, 12, "detector.hex");
    const std::string refusing = BoardTable("sampler", ethernetRoute, 14, 14, "sampler.hex");
    TempDir dir;

    orv::test::WriteFile(dir.File("first.toml"), good + refusing);
    const orv::test::ToolResult first =
        orv::test::RunTool({"run", dir.File("first.toml"), "--log-dir", dir.File("logs"),
                            "--report", dir.File("first.json")},
                           {.timeoutMs = 240000, .program = ORV_BINARY_DIR "/OrvUpdate"});
    EXPECT_EQ(first.exitCode, 255) << first.out << first.err;
    EXPECT_EQ(first.out.rfind("BOARD     ACTION  RESULT", 0), 0u) << first.out;
    EXPECT_NE(first.out.find("sampler   flash   failed (exit 255, 2 tries)"), std::string::npos)
        << first.out;
    const nlohmann::json firstReport =
        nlohmann::json::parse(orv::test::ReadFile(dir.File("first.json")));
    for (const char* name : {"pump", "valve", "detector"}) {
        const nlohmann::json& board = BoardIn(firstReport, name);
        EXPECT_EQ(board["result"], "updated") << board.dump(2);
        EXPECT_EQ(board["before"], "none");
        EXPECT_EQ(board["after"], board["imageChecksum"]);
        EXPECT_EQ(board["tries"], 1);
    }
    const nlohmann::json& sampler = BoardIn(firstReport, "sampler");
    EXPECT_EQ(sampler["result"], "failed");
    EXPECT_EQ(sampler["tries"], 2);
    EXPECT_EQ(sampler["exitStatus"], 255);
    const std::string log = orv::test::ReadFile(dir.File("logs/sampler.log"));
    EXPECT_EQ(log.rfind("$ OrvFlashPuc " + ethernetRoute + " 0 ToBoot 14\n", 0), 0u) << log;
    EXPECT_NE(log.find("Download failed!\n$ OrvFlashPuc"), std::string::npos) << log;

    orv::test::WriteFile(dir.File("second.toml"), good);
    const orv::test::ToolResult probe = orv::test::RunTool(
        {"plan", dir.File("second.toml"), "--probe", "--log-dir", dir.File("logs")},
        {.timeoutMs = 120000, .program = ORV_BINARY_DIR "/OrvUpdate"});
    EXPECT_EQ(probe.exitCode, 0) << probe.out << probe.err;
    for (const char* name : {"pump", "valve", "detector"}) {
        const std::string checksum = BoardIn(firstReport, name)["imageChecksum"];
        EXPECT_NE(probe.out.find(checksum + "  " + checksum + "    current\n"), std::string::npos)
            << name << "\n"
            << probe.out;
    }

    const orv::test::ToolResult second =
        orv::test::RunTool({"run", dir.File("second.toml"), "--log-dir", dir.File("logs"),
                            "--report", dir.File("second.json")},
                           {.timeoutMs = 240000, .program = ORV_BINARY_DIR "/OrvUpdate"});
    EXPECT_EQ(second.exitCode, 0) << second.out << second.err;
    const nlohmann::json secondReport =
        nlohmann::json::parse(orv::test::ReadFile(dir.File("second.json")));
    for (const nlohmann::json& board : secondReport["boards"]) {
        EXPECT_EQ(board["action"], "skip") << board.dump(2);
        EXPECT_EQ(board["result"], "current");
        EXPECT_EQ(board["before"], board["imageChecksum"]);
        EXPECT_FALSE(Downloaded(board));
    }
    EXPECT_TRUE(second.err.empty()) << second.err;  // no progress when not on a terminal
}

}  // namespace
}  // namespace orv::update
