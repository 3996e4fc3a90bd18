#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "standins/CanOpenEngine.h"
#include "support/MemoryCanLink.h"

namespace {

using orv::test::MakeFrame;

template <typename Condition>
bool Eventually(Condition condition) {
    for (int i = 0; i < 500 && !condition(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return condition();
}

// Delivers standard frames only, as records; a lost link ends the thread and says so with the
// node it was talking to.
TEST(CanOpenEngine, DeliversStandardFramesAndReportsALostLink) {
    auto wire = std::make_shared<orv::test::MemoryCanLink::Wire>();
    auto engine = CanOpenLibrary::CreateCanOpenEngine();
    EXPECT_NE(engine->Start(), 0) << "nothing to receive from";
    ASSERT_EQ(engine->Attach(std::make_unique<orv::test::MemoryCanLink>(wire)), 0);
    std::mutex mutex;
    std::vector<std::string> delivered;  // "id:length:third byte"
    engine->frameCallback = [&](const unsigned char* bytes) {
        CanOpenLibrary::FrameRecord r;
        std::memcpy(&r, bytes, sizeof r);
        std::lock_guard<std::mutex> lock(mutex);
        delivered.push_back(std::to_string(r.id) + ":" + std::to_string(r.length) + ":" +
                            std::to_string(r.data[2]));
    };
    const uint8_t node = 0x12;
    const uint32_t on = 1;
    engine->SetNodeState(&node, &on);
    ASSERT_EQ(engine->Start(), 0);
    EXPECT_NE(engine->Start(), 0);
    for (const orv::CanFrame& frame :
         {MakeFrame(0x192, {1, 2, 3}), MakeFrame(0x1ABCDEF, {9}), MakeFrame(0x7FF, {})})
        wire->Inject(frame);
    ASSERT_TRUE(Eventually([&] {
        std::lock_guard<std::mutex> lock(mutex);
        return delivered.size() == 2;
    }));
    EXPECT_EQ(delivered, (std::vector<std::string>{"402:3:3", "2047:0:0"}));
    EXPECT_EQ(engine->LastError(), "");
    wire->HangUp();
    ASSERT_TRUE(Eventually([&] { return !engine->IsRunning(); }));
    engine->Join();
    EXPECT_EQ(engine->LastError(),
              "CAN link lost while talking to node 18 (0 frames sent, 2 received)");
}

// Node 0 passes the command line, so it is named too; before any node is chosen none is.
TEST(CanOpenEngine, ALostLinkNamesTheChosenNodeEvenZero) {
    for (const bool chooseZero : {false, true}) {
        auto wire = std::make_shared<orv::test::MemoryCanLink::Wire>();
        auto engine = CanOpenLibrary::CreateCanOpenEngine();
        ASSERT_EQ(engine->Attach(std::make_unique<orv::test::MemoryCanLink>(wire)), 0);
        const uint8_t zero = 0;
        const uint32_t on = 1;
        if (chooseZero)
            engine->SetNodeState(&zero, &on);
        ASSERT_EQ(engine->Start(), 0);
        wire->HangUp();
        ASSERT_TRUE(Eventually([&] { return !engine->IsRunning(); }));
        engine->Join();
        EXPECT_EQ(engine->LastError(), std::string("CAN link lost") +
                                           (chooseZero ? " while talking to node 0" : "") +
                                           " (0 frames sent, 0 received)");
    }
}

}  // namespace
