// The socketcand client against a scripted server on loopback: the handshake, its refusals,
// frames both ways however the stream cuts them, garbage, and the end of the connection.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "TcpSocketPeer.h"
#include "platform/SocketcandLink.h"

namespace {

using orv::CanFrame;
using orv::ICanLink;
using orv::test::TcpSocketPeer;

struct Opened {
    std::unique_ptr<ICanLink> link;
    std::string error;
};

std::future<Opened> OpenAsync(int port, int stepTimeoutMs = 2000) {
    return std::async(std::launch::async, [port, stepTimeoutMs] {
        Opened opened;
        opened.link = orv::OpenSocketcandLink("127.0.0.1", static_cast<uint16_t>(port), "can0",
                                              stepTimeoutMs, opened.error);
        return opened;
    });
}

void Say(TcpSocketPeer& peer, const std::string& text) {
    peer.Write(std::vector<uint8_t>(text.begin(), text.end()));
}

std::string Hear(TcpSocketPeer& peer, size_t count) {
    const std::vector<uint8_t> bytes = peer.Read(count);
    return std::string(bytes.begin(), bytes.end());
}

// A server that accepts the client and puts it in raw mode.
std::unique_ptr<ICanLink> Handshake(TcpSocketPeer& peer) {
    std::future<Opened> opening = OpenAsync(peer.Port());
    EXPECT_TRUE(peer.Accept());
    Say(peer, "< hi >");
    EXPECT_EQ(Hear(peer, 13), "< open can0 >");
    Say(peer, "< ok >");
    EXPECT_EQ(Hear(peer, 11), "< rawmode >");
    Say(peer, "< ok >");
    Opened opened = opening.get();
    EXPECT_EQ(opened.error, "");
    return std::move(opened.link);
}

TEST(SocketcandLink, SendsFramesAsSendCommands) {
    TcpSocketPeer peer;
    std::unique_ptr<ICanLink> link = Handshake(peer);
    ASSERT_NE(link, nullptr);
    CanFrame frame;
    frame.id = 0x212;
    frame.length = 8;
    frame.data[0] = 0xFF;
    frame.data[7] = 0x0A;
    EXPECT_TRUE(link->Send(frame));
    frame.id = 0;
    frame.length = 2;
    frame.data[0] = 0x96;
    frame.data[1] = 0x12;
    EXPECT_TRUE(link->Send(frame));
    EXPECT_EQ(Hear(peer, 39 + 21), "< send 212 8 FF 00 00 00 00 00 00 0A >< send 000 2 96 12 >");
    frame.length = 9;
    EXPECT_FALSE(link->Send(frame));
}

TEST(SocketcandLink, ReceivesFramesCutAnywhereAndSkipsWhatIsNoFrame) {
    TcpSocketPeer peer;
    std::unique_ptr<ICanLink> link = Handshake(peer);
    ASSERT_NE(link, nullptr);
    CanFrame frame;
    Say(peer, "< frame 1");
    EXPECT_EQ(link->Receive(frame, 50), ICanLink::ReceiveResult::Timeout);
    Say(peer, "92 1700000000.123456 0102A0 >");
    ASSERT_EQ(link->Receive(frame, 2000), ICanLink::ReceiveResult::Frame);
    EXPECT_EQ(frame.id, 0x192u);
    ASSERT_EQ(frame.length, 3);
    EXPECT_EQ(frame.data[0], 0x01);
    EXPECT_EQ(frame.data[2], 0xA0);

    Say(peer,
        "garbage\n< error bus off >< frame 193 1.5 zz >< frame 194 1.5 123 >< frame >"
        "< frame 195 x 00 >< echo >< frame 196 1.0 000102030405060708 >< frame < frame 7FF "
        "2.000001 >");
    ASSERT_EQ(link->Receive(frame, 2000), ICanLink::ReceiveResult::Frame);
    EXPECT_EQ(frame.id, 0x7FFu);
    EXPECT_EQ(frame.length, 0);
    EXPECT_EQ(link->Receive(frame, 50), ICanLink::ReceiveResult::Timeout);

    // A runaway message without its closing bracket is dropped, and the stream recovers.
    Say(peer, "< frame " + std::string(2000, '1'));
    EXPECT_EQ(link->Receive(frame, 50), ICanLink::ReceiveResult::Timeout);
    Say(peer, " >< frame 180 2.5 11 >");
    ASSERT_EQ(link->Receive(frame, 2000), ICanLink::ReceiveResult::Frame);
    EXPECT_EQ(frame.id, 0x180u);
}

TEST(SocketcandLink, AClosedConnectionEndsReceivingAndSending) {
    TcpSocketPeer peer;
    std::unique_ptr<ICanLink> link = Handshake(peer);
    ASSERT_NE(link, nullptr);
    Say(peer, "< frame 181 1.0 01 >");
    peer.CloseConnection();
    CanFrame frame;
    EXPECT_EQ(link->Receive(frame, 2000), ICanLink::ReceiveResult::Frame);
    EXPECT_EQ(link->Receive(frame, 2000), ICanLink::ReceiveResult::Closed);
    EXPECT_FALSE(link->Send(frame));
}

TEST(SocketcandLink, CloseFromAnotherThreadEndsABlockedReceive) {
    TcpSocketPeer peer;
    std::unique_ptr<ICanLink> link = Handshake(peer);
    ASSERT_NE(link, nullptr);
    std::future<ICanLink::ReceiveResult> receiving = std::async(std::launch::async, [&] {
        CanFrame frame;
        return link->Receive(frame, -1);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    link->Close();
    ASSERT_EQ(receiving.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(receiving.get(), ICanLink::ReceiveResult::Closed);
}

struct Refusal {
    std::string name;
    std::vector<std::string> replies;  // one per client step; "" = silence, "CLOSE" = hang up
    std::string error;
};

class SocketcandRefusal : public testing::TestWithParam<Refusal> {};

TEST_P(SocketcandRefusal, FailsWithOneLineThatSaysWhy) {
    const Refusal& refusal = GetParam();
    TcpSocketPeer peer;
    std::future<Opened> opening = OpenAsync(peer.Port(), 200);
    ASSERT_TRUE(peer.Accept());
    const size_t heard[] = {0, 13, 11};
    for (size_t step = 0; step < refusal.replies.size(); ++step) {
        Hear(peer, heard[step]);
        if (refusal.replies[step] == "CLOSE") {
            peer.CloseConnection();
        } else if (!refusal.replies[step].empty()) {
            Say(peer, refusal.replies[step]);
        }
    }
    const Opened opened = opening.get();
    EXPECT_EQ(opened.link, nullptr);
    EXPECT_EQ(opened.error, refusal.error);
}

INSTANTIATE_TEST_SUITE_P(
    Handshake, SocketcandRefusal,
    testing::Values(
        Refusal{"NoGreeting", {""}, "Ethernet2CAN: no reply to the greeting within 200 ms"},
        Refusal{"WrongGreeting",
                {"< nope >"},
                "Ethernet2CAN: unexpected reply to the greeting: < nope >"},
        Refusal{"ClosedAtGreeting",
                {"CLOSE"},
                "Ethernet2CAN: the server closed the connection at the greeting"},
        Refusal{"ChannelRefused",
                {"< hi >", "< error no such channel >"},
                "Ethernet2CAN: open can0 refused: no such channel"},
        Refusal{"ChannelUnanswered",
                {"< hi >", ""},
                "Ethernet2CAN: no reply to open can0 within 200 ms"},
        Refusal{
            "RawModeRefused", {"< hi >", "< ok >", "< error >"}, "Ethernet2CAN: rawmode refused: "},
        Refusal{"ClosedAtRawMode",
                {"< hi >", "< ok >", "CLOSE"},
                "Ethernet2CAN: the server closed the connection at rawmode"}),
    [](const testing::TestParamInfo<Refusal>& info) { return info.param.name; });

TEST(SocketcandLink, NobodyListening) {
    int port;
    {
        TcpSocketPeer gone;
        port = gone.Port();
    }
    Opened opened = OpenAsync(port).get();
    EXPECT_EQ(opened.link, nullptr);
    EXPECT_EQ(opened.error, "Ethernet2CAN: cannot connect to 127.0.0.1:" + std::to_string(port) +
                                ": Connection refused");
}

}  // namespace
