// How a link description names its link, and what is said when it names none.
#include <gtest/gtest.h>

#include <thread>

#include "TcpSocketPeer.h"
#include "platform/CanLink.h"

namespace {

struct BadDescription {
    std::string description;
    std::string error;
};

class CanLinkBadDescription : public testing::TestWithParam<BadDescription> {};

TEST_P(CanLinkBadDescription, OpensNothingAndSaysWhy) {
    std::string error;
    EXPECT_EQ(orv::OpenCanLink(GetParam().description, error), nullptr);
    EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Descriptions, CanLinkBadDescription,
    testing::Values(
        BadDescription{"vcan0",
                       "no CAN link 'vcan0': use socketcand:HOST[:PORT][/CHANNEL] or "
                       "socketcan:IFACE"},
        BadDescription{"socketcand:",
                       "Ethernet2CAN: the route names no host "
                       "(HOST[:PORT][/CHANNEL])"},
        BadDescription{"socketcand::29536/can0",
                       "Ethernet2CAN: the route names no host "
                       "(HOST[:PORT][/CHANNEL])"},
        BadDescription{"socketcand:127.0.0.1:", "Ethernet2CAN: '' is no port number"},
        BadDescription{"socketcand:127.0.0.1:0", "Ethernet2CAN: '0' is no port number"},
        BadDescription{"socketcand:127.0.0.1:65536", "Ethernet2CAN: '65536' is no port number"},
        BadDescription{"socketcand:127.0.0.1:12ab", "Ethernet2CAN: '12ab' is no port number"},
        BadDescription{"socketcand:127.0.0.1:-5/can0", "Ethernet2CAN: '-5' is no port number"},
        BadDescription{"socketcand:127.0.0.1/", "Ethernet2CAN: '' is no channel name"},
        BadDescription{"SOCKETCAND:127.0.0.1/a<b", "Ethernet2CAN: 'a<b' is no channel name"},
        BadDescription{"socketcan:", "SocketCAN: '' is no interface name"}));

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
            const std::string hi = "< hi >";
            peer.Write(std::vector<uint8_t>(hi.begin(), hi.end()));
            const std::string open = "< open " + channel + " >";
            const std::vector<uint8_t> heard = peer.Read(open.size());
            const std::string no = std::string(heard.begin(), heard.end()) == open
                                       ? "< error heard " + channel + " >"
                                       : "< error heard something else >";
            peer.Write(std::vector<uint8_t>(no.begin(), no.end()));
        });
        EXPECT_EQ(orv::OpenCanLink(description, error), nullptr);
        server.join();
        EXPECT_EQ(error, "Ethernet2CAN: open " + channel + " refused: heard " + channel);
    }
}

}  // namespace
