#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

#include "TcpClient.h"
#include "support/SimProcess.h"

namespace orv::sim::test {
namespace {

using ::testing::HasSubstr;

constexpr int kWaitMs = 5000;

// A bridge client through the handshake, in raw mode.
void EnterRawMode(TcpClient& client) {
    ASSERT_EQ(client.ReadMessage(kWaitMs), "< hi >");
    ASSERT_TRUE(client.Send("< open can0 >"));
    ASSERT_EQ(client.ReadMessage(kWaitMs), "< ok >");
    ASSERT_TRUE(client.Send("< rawmode >"));
    ASSERT_EQ(client.ReadMessage(kWaitMs), "< ok >");
}

class BridgeTest : public testing::Test {
  protected:
    orv::test::SimProcess sim_{{"--puc", "12,mode=boot", "--bridge", "0"}};
};

TEST_F(BridgeTest, RawModeClientsHearEachOtherAndTheBoardsButNotThemselves) {
    TcpClient first(sim_.BridgePort());
    TcpClient second(sim_.BridgePort());
    EnterRawMode(first);
    EnterRawMode(second);
    ASSERT_TRUE(first.Send("< send 20C 8 70 0 0 0 0 0 0 0 >"));
    const std::string atSecond = second.ReadAll(300);
    const std::string atFirst = first.ReadAll(300);
    const std::regex request(R"(< frame 20C \d+\.\d{6} 7000000000000000 >)");
    const std::regex answer(R"(< frame 18C \d+\.\d{6} 0033313030000000 >)");
    EXPECT_TRUE(std::regex_search(atSecond, request)) << atSecond;
    EXPECT_TRUE(std::regex_search(atSecond, answer)) << atSecond;
    EXPECT_FALSE(std::regex_search(atFirst, request)) << atFirst;
    EXPECT_TRUE(std::regex_search(atFirst, answer)) << atFirst;

    ASSERT_TRUE(second.Send("<send 7ff 0><send 001 2 a B>"));
    EXPECT_THAT(first.ReadAll(300), testing::AllOf(HasSubstr("< frame 7FF "), HasSubstr(" 0A0B >")))
        << "messages may come back to back, digits in either case";
}

TEST_F(BridgeTest, BadCommandsGetAnErrorAndTheClientStays) {
    TcpClient client(sim_.BridgePort());
    const std::vector<std::pair<std::string, std::string>> beforeRaw = {
        {"< send 123 1 11 >", "< error not in raw mode >"},
        {"< rawmode >", "< error open a channel first >"},
        {"< open can7 >", "< error could not open bus >"},
        {"< bogus >", "< error unknown command >"},
        {"< echo >", "< echo >"},
    };
    ASSERT_EQ(client.ReadMessage(kWaitMs), "< hi >");
    for (const auto& [message, expected] : beforeRaw) {
        ASSERT_TRUE(client.Send(message));
        EXPECT_EQ(client.ReadMessage(kWaitMs), expected) << message;
    }
    ASSERT_TRUE(client.Send("< open can0 >"));
    EXPECT_EQ(client.ReadMessage(kWaitMs), "< ok >");
    ASSERT_TRUE(client.Send("< open can0 >"));
    EXPECT_EQ(client.ReadMessage(kWaitMs), "< error channel already open >");
    ASSERT_TRUE(client.Send("< rawmode >"));
    EXPECT_EQ(client.ReadMessage(kWaitMs), "< ok >");

    for (const char* bad :
         {"< send 800 0 >", "< send 12 3 1 2 >", "< send 12 9 1 2 3 4 5 6 7 8 9 >",
          "< send 12 1 100 >", "< send xyz 0 >", "< send >"}) {
        ASSERT_TRUE(client.Send(bad));
        EXPECT_THAT(client.ReadMessage(kWaitMs), testing::StartsWith("< error ")) << bad;
    }
    TcpClient listener(sim_.BridgePort());
    EnterRawMode(listener);
    ASSERT_TRUE(client.Send("< send 12 1 aa >"));
    EXPECT_THAT(listener.ReadAll(300), HasSubstr(" AA >")) << "still served after the errors";
}

}  // namespace
}  // namespace orv::sim::test
