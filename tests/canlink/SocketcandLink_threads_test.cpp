// The socketcand route: how a link description names its link, how the server's byte stream is
// cut into messages, and the client against a scripted server on loopback (the handshake, its
// refusals, frames however the stream cuts them, garbage, and the end of the connection).
#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <thread>

#include "canlink/CanLink.h"
#include "canlink/SocketcandLink.h"
#include "canlink/SocketcandText.h"
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

using Texts = std::vector<std::string>;

// Feeds each piece in turn and takes every message complete after it.
Texts Split(const Texts& pieces) {
    orv::SocketcandSplitter splitter;
    Texts messages;
    for (const std::string& piece : pieces) {
        splitter.Feed(piece.data(), piece.size());
        while (std::optional<std::string> message = splitter.Next())
            messages.push_back(*message);
    }
    return messages;
}

TEST(SocketcandSplitter, CutsTheStreamIntoMessages) {
    const std::string strays(3000, '<');
    constexpr size_t kMax = orv::SocketcandSplitter::kMaxMessage;
    const std::string unclosed = "< " + std::string(kMax, 'x');
    const std::string longest = "<" + std::string(kMax - 1, 'x');
    const struct {
        const char* name;
        Texts pieces;
        Texts expected;
    } cases[] = {
        {"joined and spaced", {"< hi ><  ok   >"}, {"hi", "ok"}},
        {"split anywhere", {"< fra", "me 1 2.0", " >", "<", " ok >"}, {"frame 1 2.0", "ok"}},
        {"text outside brackets", {"x > y < ok > z"}, {"ok"}},
        {"a message cut off by the next", {"< frame 1 < ok >"}, {"ok"}},
        {"stray brackets across pieces", {strays, strays + "< ok", " >"}, {"ok"}},
        {"too long without its end", {unclosed, "x >< ok >"}, {"ok"}},
        {"the longest kept", {longest, "x >"}, {std::string(kMax, 'x')}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Split(c.pieces), c.expected) << c.name;
}

using orv::CanFrame;
using Result = orv::ICanLink::ReceiveResult;
using orv::test::TcpSocketPeer;

struct Opened {
    std::unique_ptr<orv::ICanLink> link;
    std::string error;
};

// Opens against the peer while the server side is scripted: each reply follows what the
// client says at that step ("" = silence, "CLOSE" = hang up).
Opened Open(TcpSocketPeer& peer, const std::vector<std::string>& replies, int stepMs = 2000) {
    std::future<Opened> opening = std::async(std::launch::async, [&] {
        Opened opened;
        opened.link = orv::OpenSocketcandLink("127.0.0.1", static_cast<uint16_t>(peer.Port()),
                                              "can0", stepMs, opened.error);
        return opened;
    });
    EXPECT_TRUE(peer.Accept());
    const char* heard[] = {"", "< open can0 >", "< rawmode >"};
    for (size_t step = 0; step < replies.size(); ++step) {
        EXPECT_EQ(peer.Hear(strlen(heard[step])), heard[step]);
        if (replies[step] == "CLOSE")
            peer.CloseConnection();
        else if (!replies[step].empty())
            peer.Say(replies[step]);
    }
    return opening.get();
}

TEST(SocketcandLink, RefusedHandshakesFailWithOneLineThatSaysWhy) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{""}, "no reply to the greeting within 200 ms"},
        {{"< nope >"}, "unexpected reply to the greeting: < nope >"},
        {{"< hi >", "< error no such channel >"}, "open can0 refused: no such channel"},
        {{"< hi >", "< ok >", "CLOSE"}, "the server closed the connection at rawmode"}};
    for (const auto& [replies, error] : cases) {
        TcpSocketPeer peer;
        const Opened opened = Open(peer, replies, 200);
        EXPECT_EQ(opened.link, nullptr);
        EXPECT_EQ(opened.error, "socketcand: " + error);
    }
}

// "id:length:last data byte" of the next frame, or how the wait ended.
std::string Next(orv::ICanLink& link, int timeoutMs = 2000) {
    CanFrame f;
    const Result result = link.Receive(f, timeoutMs);
    if (result != Result::Frame)
        return result == Result::Timeout ? "timeout" : "closed";
    return std::to_string(f.id) + ":" + std::to_string(f.length) + ":" +
           std::to_string(f.length ? f.data[f.length - 1] : 0);
}

TEST(SocketcandLink, ReceivesFramesCutAnywhereSkipsWhatIsNoFrameAndEndsWhenClosed) {
    TcpSocketPeer peer;
    Opened opened = Open(peer, {"< hi >", "< ok >", "< ok >"});
    ASSERT_NE(opened.link, nullptr) << opened.error;
    orv::ICanLink* link = opened.link.get();
    peer.Say("< frame 1");
    EXPECT_EQ(Next(*link, 50), "timeout");
    peer.Say("92 1700000000.123456 0102A0 >");
    EXPECT_EQ(Next(*link), "402:3:160");
    peer.Say(
        "garbage\n< error bus off >< frame 193 1.5 zz >< frame 194 1.5 123 >< frame >"
        "< frame 195 x 00 >< echo >< frame 196 1.0 000102030405060708 >< frame < frame 7FF "
        "2.000001 >");
    EXPECT_EQ(Next(*link), "2047:0:0");
    EXPECT_EQ(Next(*link, 50), "timeout");
    // A runaway message without its closing bracket is dropped, and the stream recovers.
    peer.Say("< frame " + std::string(2000, '1'));
    EXPECT_EQ(Next(*link, 50), "timeout");
    peer.Say(" >< frame 180 2.5 11 >< frame 181 1.0 01 >");
    peer.CloseConnection();
    EXPECT_EQ(Next(*link), "384:1:17");
    EXPECT_EQ(Next(*link), "385:1:1");
    EXPECT_EQ(Next(*link), "closed");
    EXPECT_FALSE(link->Send(CanFrame{}));
}

}  // namespace
