// What only the named Ethernet-to-CAN route shows: it carries the gateway commands out itself,
// so a silent board, a bridge that goes away and a route that leads nowhere end as that
// execution ends them. The commands that work alike on every transport are in EndToEnd_test.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "Transports.h"
#include "support/ToolRun.h"

namespace {

using namespace orv::test;
using testing::EndsWith;
using testing::HasSubstr;
using testing::StartsWith;

std::string Route(int port) {
    return "Ethernet2CAN:127.0.0.1:" + std::to_string(port) + "/can0";
}

class E2CRoute : public testing::Test {
  protected:
    ToolResult Tool(const std::vector<std::string>& args) {
        return RunTool(args, {.workDir = dir_.Path(), .timeoutMs = 120000});
    }

    TempDir dir_;
};

// The boot-loader initialisation needs no answer here; the status polls that follow do, and
// each gives up after its reply timeout plus ten seconds.
TEST_F(E2CRoute, ASilentBoardFailsAtTheFirstStatusPoll) {
    SimProcess sim({"--puc", "12,mode=boot,silent", "--bridge", "0"});
    const ToolResult r =
        Tool({Route(sim.BridgePort()), "0", "DnlPUC", "12", WritePucProgram(dir_)});
    EXPECT_EQ(r.exitCode, kExitFailure) << r.out;
    EXPECT_THAT(r.out, StartsWith("TCP/IP (SCU based communication)\n"));
    EXPECT_THAT(r.out, HasSubstr("Dnl. initialization: DONE\nError: Get status FAILED\n"));
    EXPECT_THAT(r.out, EndsWith("Download failed!"));
    EXPECT_EQ(r.err, "");
    EXPECT_LT(r.elapsedMs, 60000);
}

TEST_F(E2CRoute, ABridgeThatClosesMidDownloadFailsIt) {
    SimProcess sim({"--puc", "12,mode=boot", "--bridge", "0"});
    const std::vector<std::string> args = {Route(sim.BridgePort()), "0", "DnlPUC", "12",
                                           WritePucProgram(dir_)};
    std::future<ToolResult> running = std::async(std::launch::async, [&] { return Tool(args); });
    // Let the first sub-block arrive, then take the bridge away.
    bool downloading = false;
    for (int i = 0; i < 300 && !downloading; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        downloading = sim.Log().find("sub-block at") != std::string::npos;
    }
    EXPECT_TRUE(downloading) << sim.Log();
    sim.Stop();
    const ToolResult r = running.get();
    EXPECT_EQ(r.exitCode, kExitFailure) << r.out;
    EXPECT_THAT(r.out, EndsWith("Download failed!"));
    EXPECT_THAT(r.err, StartsWith("CAN link lost while talking to node "));
    EXPECT_FALSE(std::filesystem::exists(dir_.File("FLASH.LOG")));
}

TEST_F(E2CRoute, ARouteThatLeadsNowhereSaysWhyOnStandardError) {
    int port;
    {
        SimProcess gone({"--bridge", "0"});
        port = gone.BridgePort();
    }
    const std::pair<std::string, std::string> cases[] = {
        {Route(port), "socketcand: cannot connect to 127.0.0.1:" + std::to_string(port) +
                          ": Connection refused\n"},
        {"ORVCAN:Application",
         "Unknown route 'ORVCAN:Application': use Ethernet2CAN:HOST[:PORT][/CHANNEL] or "
         "SocketCAN:IFACE\n"}};
    for (const auto& [route, err] : cases) {
        const ToolResult r = Tool({route, "0", "GetInfoPUC", "12"});
        EXPECT_EQ(r.exitCode, kExitFailure) << r.out;
        EXPECT_THAT(r.out, StartsWith("TCP/IP (SCU based communication)\n"));
        EXPECT_EQ(r.err, err);
        EXPECT_LT(r.elapsedMs, 30000);
    }
}

}  // namespace
