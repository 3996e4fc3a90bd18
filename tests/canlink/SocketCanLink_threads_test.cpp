// The SocketCAN link over a descriptor: one end of a sequenced-packet socket pair stands in for
// the CAN socket, the test holds the other; a real vcan0 is used where the kernel has one.
#include <gtest/gtest.h>
#include <linux/can.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>

#include "canlink/SocketCanLink.h"

namespace {

using orv::CanFrame;
using Result = orv::ICanLink::ReceiveResult;

struct LinkOverPair {
    std::unique_ptr<orv::ICanLink> link;
    int bus = -1;

    LinkOverPair() {
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) == 0) {
            link = orv::MakeSocketCanLink(fds[0]);
            bus = fds[1];
        }
    }
    ~LinkOverPair() { close(bus); }
    void Put(canid_t id, uint8_t length, size_t size = sizeof(can_frame)) const {
        can_frame raw{};
        raw.can_id = id;
        raw.len = length;
        for (uint8_t i = 0; i < length; ++i)
            raw.data[i] = static_cast<uint8_t>(id + i);
        ASSERT_EQ(write(bus, &raw, size), static_cast<ssize_t>(size));
    }
};

// "id:length:last data byte" of each frame received, until a wait times out.
std::vector<std::string> ReceiveAll(orv::ICanLink& link) {
    std::vector<std::string> got;
    CanFrame f;
    for (int i = 0; i < 10 && link.Receive(f, i == 0 ? 1000 : 50) == Result::Frame; ++i)
        got.push_back(std::to_string(f.id) + ":" + std::to_string(f.length) + ":" +
                      std::to_string(f.length ? f.data[f.length - 1] : 0));
    return got;
}

TEST(SocketCanLink, ReceivesDataFramesSkipsTheRestAndSendsOneRecordPerFrame) {
    LinkOverPair pair;
    ASSERT_NE(pair.link, nullptr);
    pair.Put(0x192, 3);
    pair.Put(0x123 | CAN_ERR_FLAG, 8);
    pair.Put(0x193 | CAN_RTR_FLAG, 0);
    pair.Put(0x194, 1, 5);  // a short record
    pair.Put(0x1ABCDEF | CAN_EFF_FLAG, 1);
    pair.Put(0x7FF, 8);
    EXPECT_EQ(ReceiveAll(*pair.link),
              (std::vector<std::string>{"402:3:148", "28036591:1:239", "2047:8:6"}));

    CanFrame frame;
    frame.id = 0x212;
    frame.length = 2;
    frame.data[1] = 0x55;
    ASSERT_TRUE(pair.link->Send(frame));
    can_frame raw{};
    ASSERT_EQ(read(pair.bus, &raw, sizeof raw), static_cast<ssize_t>(sizeof raw));
    EXPECT_EQ(std::make_tuple(raw.can_id, raw.len, raw.data[1]), std::make_tuple(0x212u, 2, 0x55));
    frame.length = 9;
    EXPECT_FALSE(pair.link->Send(frame));
}

// The far end closing, or Close from another thread, ends a blocked receive and every send.
TEST(SocketCanLink, ClosingEitherEndEndsTheLink) {
    for (bool farEnd : {true, false}) {
        LinkOverPair pair;
        ASSERT_NE(pair.link, nullptr);
        std::future<Result> receiving = std::async(std::launch::async, [&] {
            CanFrame frame;
            return pair.link->Receive(frame, -1);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (farEnd) {
            close(pair.bus);
            pair.bus = -1;
        } else {
            pair.link->Close();
        }
        ASSERT_EQ(receiving.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        EXPECT_EQ(receiving.get(), Result::Closed);
        EXPECT_FALSE(pair.link->Send(CanFrame{}));
    }
}

TEST(SocketCanLink, RealVirtualInterface) {
    std::string error;
    std::unique_ptr<orv::ICanLink> sender = orv::OpenSocketCanLink("vcan0", error);
    if (sender == nullptr)
        GTEST_SKIP() << "no vcan0 here: " << error;
    std::unique_ptr<orv::ICanLink> receiver = orv::OpenSocketCanLink("vcan0", error);
    ASSERT_NE(receiver, nullptr) << error;
    CanFrame frame;
    frame.id = 0x212;
    frame.length = 1;
    frame.data[0] = 0x70;
    ASSERT_TRUE(sender->Send(frame));
    EXPECT_EQ(ReceiveAll(*receiver), std::vector<std::string>{"530:1:112"});
}

}  // namespace
