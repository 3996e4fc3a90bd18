// How a link description names its link, and what is said when it names none.
#include <gtest/gtest.h>

#include <thread>

#include "canlink/CanLink.h"
#include "support/TcpSocketPeer.h"

namespace {

TEST(CanLinkDescription, ADescriptionThatNamesNoLinkOpensNothingAndSaysWhy) {
    const std::string noHost = "socketcand: the route names no host (HOST[:PORT][/CHANNEL])";
    const std::pair<std::string, std::string> cases[] = {
        {"vcan0", "no CAN link 'vcan0': use socketcand:HOST[:PORT][/CHANNEL] or socketcan:IFACE"},
        {"socketcand:", noHost},
        {"socketcand:127.0.0.1:65536", "socketcand: '65536' is no port number"},
        {"socketcand:127.0.0.1:12ab", "socketcand: '12ab' is no port number"},
        {"SOCKETCAND:127.0.0.1/a<b", "socketcand: 'a<b' is no channel name"},
        {"socketcan:an-interface-name-far-too-long",
         "SocketCAN: 'an-interface-name-far-too-long' is no interface name"}};
    for (const auto& [description, expected] : cases) {
        std::string error;
        EXPECT_EQ(orv::OpenCanLink(description, error), nullptr) << description;
        EXPECT_EQ(error, expected);
    }
}

// Without a channel the default one reaches the server (the end-to-end runs name theirs); the
// left part's case does not matter. The server refuses the channel to end it quickly.
TEST(CanLinkDescription, SocketcandDefaultChannel) {
    orv::test::TcpSocketPeer peer;
    std::thread server([&] {
        ASSERT_TRUE(peer.Accept());
        peer.Say("< hi >");
        peer.Say(peer.Hear(13) == "< open can0 >" ? "< error heard can0 >" : "< error other >");
    });
    std::string error;
    EXPECT_EQ(orv::OpenCanLink("SocketCAND:127.0.0.1:" + std::to_string(peer.Port()), error),
              nullptr);
    server.join();
    EXPECT_EQ(error, "socketcand: open can0 refused: heard can0");
}

}  // namespace
