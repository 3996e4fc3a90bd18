// The socketcand client against a scripted server on loopback: the handshake, its refusals,
// frames both ways however the stream cuts them, garbage, and the end of the connection.
#include <gtest/gtest.h>

#include <cstring>
#include <future>

#include "canlink/SocketcandLink.h"
#include "support/TcpSocketPeer.h"

namespace {

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

std::unique_ptr<orv::ICanLink> Handshake(TcpSocketPeer& peer) {
    Opened opened = Open(peer, {"< hi >", "< ok >", "< ok >"});
    EXPECT_EQ(opened.error, "");
    return std::move(opened.link);
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
    std::unique_ptr<orv::ICanLink> link = Handshake(peer);
    ASSERT_NE(link, nullptr);
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
