#include <gtest/gtest.h>
#include <linux/can.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "canlink/CanLink.h"
#include "canlink/SocketCanLink.h"
#include "canlink/SocketcandLink.h"
#include "canlink/SocketcandText.h"
#include "support/TcpSocketPeer.h"

namespace {

using orv::CanFrame;
using Result = orv::CanLink::ReceiveResult;
using Texts = std::vector<std::string>;
using orv::test::TcpSocketPeer;

// "id:length:last data byte" of the next frame, or how the wait ended.
std::string Next(orv::CanLink& link, int timeoutMs = 2000) {
    CanFrame f;
    const Result result = link.Receive(f, timeoutMs);
    if (result != Result::Frame)
        return result == Result::Timeout ? "timeout" : "closed";
    return std::to_string(f.id) + ":" + std::to_string(f.length) + ":" +
           std::to_string(f.length ? f.data[f.length - 1] : 0);
}

// The link over one end of a sequenced-packet socket pair; the bus is the other end.
TEST(SocketCanLink, ReceivesDataFramesSkipsTheRestAndSendsOneRecordPerFrame) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds), 0);
    const std::unique_ptr<orv::CanLink> link = orv::MakeSocketCanLink(fds[0]);
    for (const auto& [id, length, size] : {std::tuple<canid_t, uint8_t, size_t>{0x192, 3, 16},
                                           {0x123 | CAN_ERR_FLAG, 8, 16},
                                           {0x193 | CAN_RTR_FLAG, 0, 16},
                                           {0x194, 1, 5},  // a short record
                                           {0x1ABCDEF | CAN_EFF_FLAG, 1, 16},
                                           {0x7FF, 8, 16}}) {
        can_frame raw{};
        raw.can_id = id;
        raw.len = length;
        for (uint8_t i = 0; i < length; ++i)
            raw.data[i] = static_cast<uint8_t>(id + i);
        ASSERT_EQ(write(fds[1], &raw, size), static_cast<ssize_t>(size));
    }
    for (const char* expected : {"402:3:148", "28036591:1:239", "2047:8:6", "timeout"})
        EXPECT_EQ(Next(*link, 50), expected);
    CanFrame frame{.id = 0x212, .length = 2, .data = {0, 0x55}};
    ASSERT_TRUE(link->Send(frame));
    can_frame raw{};
    ASSERT_EQ(read(fds[1], &raw, sizeof raw), static_cast<ssize_t>(sizeof raw));
    EXPECT_EQ(std::make_tuple(raw.can_id, raw.len, raw.data[1]), std::make_tuple(0x212u, 2, 0x55));
    frame.length = 9;
    EXPECT_FALSE(link->Send(frame));
    close(fds[1]);
}

// The one check that needs a real interface: it runs where vcan0 exists and skips elsewhere.
TEST(SocketCanLink, RealVirtualInterface) {
    std::string error;
    const std::unique_ptr<orv::CanLink> sender = orv::OpenSocketCanLink("vcan0", error);
    if (sender == nullptr)
        GTEST_SKIP() << "no vcan0 here: " << error;
    const std::unique_ptr<orv::CanLink> receiver = orv::OpenSocketCanLink("vcan0", error);
    ASSERT_NE(receiver, nullptr) << error;
    ASSERT_TRUE(sender->Send(CanFrame{.id = 0x212, .length = 1, .data = {0x70}}));
    EXPECT_EQ(Next(*receiver), "530:1:112");
}

// Refused before any connection is tried, so no address here is ever reached.
TEST(CanLinkDescription, ADescriptionThatNamesNoLinkOpensNothingAndSaysWhy) {
    const std::pair<std::string, std::string> cases[] = {
        {"vcan0", "no CAN link 'vcan0': use socketcand:HOST[:PORT][/CHANNEL] or socketcan:IFACE"},
        {"socketcand:127.0.0.1:abc/can0", "socketcand: 'abc' is no port number"},
        {"socketcand:127.0.0.1:/can0", "socketcand: '' is no port number"},
        {"socketcand:127.0.0.1:0", "socketcand: '0' is no port number"},
        {"socketcand:127.0.0.1:65536", "socketcand: '65536' is no port number"},
        {"socketcand:127.0.0.1:000029536", "socketcand: '000029536' is no port number"},
        {"SocketCAND::29536/can0", "socketcand: the route names no host (HOST[:PORT][/CHANNEL])"},
        {"socketcand:127.0.0.1:29536/", "socketcand: '' is no channel name"},
        {"socketcand:127.0.0.1/can<0>", "socketcand: 'can<0>' is no channel name"},
        {"socketcan:", "SocketCAN: '' is no interface name"},
        {"socketcan:can456789abcdefg", "SocketCAN: 'can456789abcdefg' is no interface name"},
    };
    for (const auto& [description, why] : cases) {
        std::string error;
        EXPECT_EQ(orv::OpenCanLink(description, error), nullptr) << description;
        EXPECT_EQ(error, why);
    }
}

TEST(SocketcandSplitter, CutsTheStreamIntoMessages) {
    const std::string strays(3000, '<');
    constexpr size_t kMax = orv::SocketcandSplitter::kMaxMessage;
    const struct {
        Texts pieces, expected;
    } cases[] = {
        {{"< fra", "me 1 2.0", " >", "<", " ok >"}, {"frame 1 2.0", "ok"}},
        {{"< frame 1 < ok >"}, {"ok"}},  // a message cut off by the next
        {{strays, strays + "< ok", " >"}, {"ok"}},
        {{"< " + std::string(kMax, 'x'), "x >< ok >"}, {"ok"}},  // too long without its end
        {{"<" + std::string(kMax - 1, 'x'), "x >"}, {std::string(kMax, 'x')}},  // the longest
    };
    for (const auto& c : cases) {
        orv::SocketcandSplitter splitter;
        Texts messages;
        for (const std::string& piece : c.pieces) {
            splitter.Feed(piece.data(), piece.size());
            while (std::optional<std::string> message = splitter.Next())
                messages.push_back(*message);
        }
        EXPECT_EQ(messages, c.expected) << c.pieces[0].substr(0, 20);
    }
}

// Each reply follows what the client says ("CLOSE" = hang up); opened in capitals, no channel.
std::unique_ptr<orv::CanLink> Open(TcpSocketPeer& peer, const Texts& replies, std::string& error) {
    auto opening = std::async(std::launch::async, [&] {
        return orv::OpenCanLink("SocketCAND:127.0.0.1:" + std::to_string(peer.Port()), error);
    });
    EXPECT_TRUE(peer.Accept());
    const char* heard[] = {"", "< open can0 >", "< rawmode >"};
    for (size_t step = 0; step < replies.size(); ++step) {
        EXPECT_EQ(peer.Hear(strlen(heard[step])), heard[step]);
        if (replies[step] == "CLOSE")
            peer.CloseConnection();
        else
            peer.Say(replies[step]);
    }
    return opening.get();
}

TEST(SocketcandLink, ARefusedHandshakeFailsWithOneLineThatSaysWhy) {
    TcpSocketPeer peer;
    std::string error;
    EXPECT_EQ(Open(peer, {"< hi >", "< ok >", "CLOSE"}, error), nullptr);
    EXPECT_EQ(error, "socketcand: the server closed the connection at rawmode");
}

TEST(SocketcandLink, ReceivesFramesCutAnywhereSkipsWhatIsNoFrameAndEndsWhenClosed) {
    TcpSocketPeer peer;
    std::string error;
    const std::unique_ptr<orv::CanLink> link = Open(peer, {"< hi >", "< ok >", "< ok >"}, error);
    ASSERT_NE(link, nullptr) << error;
    // A wait of 0 with nothing pending ends at once, though a frame comes soon after.
    std::thread soon([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        peer.Say("< frame 17F 1.0 01 >");
    });
    EXPECT_EQ(Next(*link, 0), "timeout");
    soon.join();
    EXPECT_EQ(Next(*link), "383:1:1");
    peer.Say("< frame 1");
    EXPECT_EQ(Next(*link, 50), "timeout");
    peer.Say("92 1700000000.123456 0102A0 >");
    EXPECT_EQ(Next(*link), "402:3:160");
    peer.Say(
        "garbage\n< error bus off >< frames 190 1.5 11 >< frame 193 1.5 zz >< frame 194 1.5 123 >< "
        "frame >"
        "< frame 195 x 00 >< echo >< frame 196 1.0 000102030405060708 >< frame < frame 7FF "
        "2.000001 >");
    EXPECT_EQ(Next(*link), "2047:0:0");
    EXPECT_EQ(Next(*link, 50), "timeout");
    peer.Say("< frame 180 2.5 11 >< frame 181 1.0 01 >");
    peer.CloseConnection();
    EXPECT_EQ(Next(*link), "384:1:17");
    EXPECT_EQ(Next(*link), "385:1:1");
    EXPECT_EQ(Next(*link), "closed");
    EXPECT_FALSE(link->Send(CanFrame{}));
}

}  // namespace
