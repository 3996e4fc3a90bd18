// The SocketCAN link over a descriptor: one end of a sequenced-packet socket pair stands in for
// the CAN socket, the test holds the other; a real vcan0 is used where the kernel has one.
#include <gtest/gtest.h>
#include <linux/can.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>

#include "platform/SocketCanLink.h"

namespace {

using orv::CanFrame;
using orv::ICanLink;

struct LinkOverPair {
    std::unique_ptr<ICanLink> link;
    int bus = -1;

    LinkOverPair() {
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) == 0) {
            link = orv::MakeSocketCanLink(fds[0]);
            bus = fds[1];
        }
    }
    ~LinkOverPair() {
        if (bus >= 0) {
            close(bus);
        }
    }
    void Put(const void* record, size_t size) const {
        ASSERT_EQ(write(bus, record, size), static_cast<ssize_t>(size));
    }
    void Put(canid_t id, std::vector<uint8_t> data) const {
        can_frame raw{};
        raw.can_id = id;
        raw.len = static_cast<uint8_t>(std::min<size_t>(data.size(), CAN_MAX_DLEN));
        std::copy_n(data.begin(), raw.len, raw.data);
        Put(&raw, sizeof raw);
    }
};

TEST(SocketCanLink, ReceivesDataFramesAndSkipsTheRest) {
    LinkOverPair pair;
    ASSERT_NE(pair.link, nullptr);
    pair.Put(0x192, {1, 2, 3});
    pair.Put(0x123 | CAN_ERR_FLAG, {0, 0, 0, 0, 0, 0, 0, 0});
    pair.Put(0x193 | CAN_RTR_FLAG, {});
    const char shortRecord[5] = {1, 2, 3, 4, 5};
    pair.Put(shortRecord, sizeof shortRecord);
    pair.Put(0x1ABCDEF | CAN_EFF_FLAG, {9});
    pair.Put(0x7FF, {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x11, 0x22});

    CanFrame frame;
    ASSERT_EQ(pair.link->Receive(frame, 1000), ICanLink::ReceiveResult::Frame);
    EXPECT_EQ(frame.id, 0x192u);
    EXPECT_EQ(frame.length, 3);
    EXPECT_EQ(frame.data[2], 3);
    ASSERT_EQ(pair.link->Receive(frame, 1000), ICanLink::ReceiveResult::Frame);
    EXPECT_EQ(frame.id, 0x1ABCDEFu);
    ASSERT_EQ(pair.link->Receive(frame, 1000), ICanLink::ReceiveResult::Frame);
    EXPECT_EQ(frame.id, 0x7FFu);
    EXPECT_EQ(frame.data[7], 0x22);
    EXPECT_EQ(pair.link->Receive(frame, 0), ICanLink::ReceiveResult::Timeout);
}

TEST(SocketCanLink, SendsOneRecordPerFrame) {
    LinkOverPair pair;
    ASSERT_NE(pair.link, nullptr);
    CanFrame frame;
    frame.id = 0x212;
    frame.length = 2;
    frame.data[0] = 0xAA;
    frame.data[1] = 0x55;
    ASSERT_TRUE(pair.link->Send(frame));
    can_frame raw{};
    ASSERT_EQ(read(pair.bus, &raw, sizeof raw), static_cast<ssize_t>(sizeof raw));
    EXPECT_EQ(raw.can_id, 0x212u);
    EXPECT_EQ(raw.len, 2);
    EXPECT_EQ(raw.data[1], 0x55);
    frame.length = 9;
    EXPECT_FALSE(pair.link->Send(frame));
}

TEST(SocketCanLink, TheOtherEndClosingEndsTheLink) {
    LinkOverPair pair;
    ASSERT_NE(pair.link, nullptr);
    close(pair.bus);
    pair.bus = -1;
    CanFrame frame;
    EXPECT_EQ(pair.link->Receive(frame, 1000), ICanLink::ReceiveResult::Closed);
    EXPECT_FALSE(pair.link->Send(frame));
}

TEST(SocketCanLink, CloseFromAnotherThreadEndsABlockedReceive) {
    LinkOverPair pair;
    ASSERT_NE(pair.link, nullptr);
    std::future<ICanLink::ReceiveResult> receiving = std::async(std::launch::async, [&] {
        CanFrame frame;
        return pair.link->Receive(frame, -1);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pair.link->Close();
    ASSERT_EQ(receiving.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(receiving.get(), ICanLink::ReceiveResult::Closed);
}

TEST(SocketCanLink, RealVirtualInterface) {
    std::string error;
    std::unique_ptr<ICanLink> sender = orv::OpenSocketCanLink("vcan0", error);
    if (sender == nullptr) {
        GTEST_SKIP() << "no vcan0 here: " << error;
    }
    std::unique_ptr<ICanLink> receiver = orv::OpenSocketCanLink("vcan0", error);
    ASSERT_NE(receiver, nullptr) << error;
    CanFrame frame;
    frame.id = 0x212;
    frame.length = 1;
    frame.data[0] = 0x70;
    ASSERT_TRUE(sender->Send(frame));
    CanFrame got;
    ASSERT_EQ(receiver->Receive(got, 2000), ICanLink::ReceiveResult::Frame);
    EXPECT_EQ(got.id, 0x212u);
    EXPECT_EQ(got.data[0], 0x70);
}

TEST(SocketCanLink, BadInterfaceNames) {
    std::string error;
    EXPECT_EQ(orv::OpenSocketCanLink("", error), nullptr);
    EXPECT_EQ(error, "SocketCAN: '' is no interface name");
    EXPECT_EQ(orv::OpenSocketCanLink("an-interface-name-far-too-long", error), nullptr);
    EXPECT_EQ(error, "SocketCAN: 'an-interface-name-far-too-long' is no interface name");
}

}  // namespace
