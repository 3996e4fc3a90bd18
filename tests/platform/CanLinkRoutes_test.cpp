// How a link description names its link, and what is said when it names none.
#include <gtest/gtest.h>

#include <thread>

#include "TcpSocketPeer.h"
#include "platform/CanLink.h"

namespace {

TEST(CanLinkDescription, ADescriptionThatNamesNoLinkOpensNothingAndSaysWhy) {
    const std::string noHost = "socketcand: the route names no host (HOST[:PORT][/CHANNEL])";
    const std::pair<std::string, std::string> cases[] = {
        {"vcan0", "no CAN link 'vcan0': use socketcand:HOST[:PORT][/CHANNEL] or socketcan:IFACE"},
        {"socketcand:", noHost},
        {"socketcand::29536/can0", noHost},
        {"socketcand:127.0.0.1:", "socketcand: '' is no port number"},
        {"socketcand:127.0.0.1:0", "socketcand: '0' is no port number"},
        {"socketcand:127.0.0.1:65536", "socketcand: '65536' is no port number"},
        {"socketcand:127.0.0.1:12ab", "socketcand: '12ab' is no port number"},
        {"socketcand:127.0.0.1:-5/can0", "socketcand: '-5' is no port number"},
        {"socketcand:127.0.0.1/", "socketcand: '' is no channel name"},
        {"SOCKETCAND:127.0.0.1/a<b", "socketcand: 'a<b' is no channel name"},
        {"socketcan:", "SocketCAN: '' is no interface name"},
        {"socketcan:an-interface-name-far-too-long",
         "SocketCAN: 'an-interface-name-far-too-long' is no interface name"}};
    for (const auto& [description, expected] : cases) {
        std::string error;
        EXPECT_EQ(orv::OpenCanLink(description, error), nullptr) << description;
        EXPECT_EQ(error, expected);
    }
}

// The port and channel reach the server as given, with their defaults otherwise; the left
// part's case does not matter. The server refuses the channel to end each attempt quickly.
TEST(CanLinkDescription, SocketcandPortAndChannel) {
    orv::test::TcpSocketPeer peer;
    const std::string port = std::to_string(peer.Port());
    const std::pair<std::string, std::string> cases[] = {
        {"socketcand:127.0.0.1:" + port + "/vcan3", "vcan3"},
        {"SocketCAND:127.0.0.1:" + port, "can0"}};
    for (const auto& [description, channel] : cases) {
        std::string error;
        std::thread server([&, channel = channel] {
            ASSERT_TRUE(peer.Accept());
            peer.Say("< hi >");
            const std::string open = "< open " + channel + " >";
            peer.Say(peer.Hear(open.size()) == open ? "< error heard " + channel + " >"
                                                    : "< error heard something else >");
        });
        EXPECT_EQ(orv::OpenCanLink(description, error), nullptr);
        server.join();
        EXPECT_EQ(error, "socketcand: open " + channel + " refused: heard " + channel);
    }
}

}  // namespace
