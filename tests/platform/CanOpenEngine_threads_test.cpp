// The CANopen engine stand-in: what it puts on the link, how its thread delivers frames, and
// how it ends, by request or because the link went away.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/CanOpenEngine.h"
#include "support/MemoryCanLink.h"

namespace {

using CanOpenLibrary::FrameRecord;
using orv::test::MakeFrame;
using orv::test::MemoryCanLink;

struct Delivered {
    std::mutex mutex;
    std::vector<FrameRecord> records;

    void Add(const unsigned char* bytes) {
        FrameRecord record;
        std::memcpy(&record, bytes, sizeof record);
        std::lock_guard<std::mutex> lock(mutex);
        records.push_back(record);
    }
    size_t Count() {
        std::lock_guard<std::mutex> lock(mutex);
        return records.size();
    }
};

// Bounded wait for the engine's thread to catch up.
template <typename Condition>
bool Eventually(Condition condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

TEST(CanOpenEngine, SendsNmtAsIdentifierZeroAndFramesAsGiven) {
    auto wire = std::make_shared<MemoryCanLink::Wire>();
    auto engine = CanOpenLibrary::CreateCanOpenEngine();
    const uint8_t specifier = 0x96;
    const uint8_t node = 0x12;
    uint8_t scratch[8];
    EXPECT_NE(engine->SendNmt(&specifier, &node, scratch), 0);  // no link yet
    ASSERT_EQ(engine->Attach(std::make_unique<MemoryCanLink>(wire)), 0);
    EXPECT_EQ(engine->SendNmt(&specifier, &node, scratch), 0);
    const uint16_t id = 0x212;
    const uint8_t data[8] = {0x10, 1, 2, 3, 4, 5, 6, 7};
    const uint8_t three = 3;
    EXPECT_EQ(engine->SendCanFrame(&id, data, &three, scratch), 0);
    EXPECT_EQ(scratch[2], 2);
    const uint8_t nine = 9;
    EXPECT_NE(engine->SendCanFrame(&id, data, &nine, scratch), 0);

    const std::vector<orv::CanFrame> sent = wire->Sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].id, 0u);
    EXPECT_EQ(sent[0].length, 2);
    EXPECT_EQ(sent[0].data[0], 0x96);
    EXPECT_EQ(sent[0].data[1], 0x12);
    EXPECT_EQ(sent[1].id, 0x212u);
    EXPECT_EQ(sent[1].length, 3);
    EXPECT_EQ(engine->Counters().framesSent, 2u);

    wire->failSends = true;
    EXPECT_NE(engine->SendCanFrame(&id, data, &three, scratch), 0);
}

TEST(CanOpenEngine, DeliversStandardFramesAsRecordsOnItsThread) {
    auto wire = std::make_shared<MemoryCanLink::Wire>();
    auto engine = CanOpenLibrary::CreateCanOpenEngine();
    EXPECT_NE(engine->Start(), 0);  // nothing to receive from
    ASSERT_EQ(engine->Attach(std::make_unique<MemoryCanLink>(wire)), 0);
    Delivered delivered;
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<bool> onOtherThread{true};
    engine->frameCallback = [&](const unsigned char* bytes) {
        onOtherThread.store(onOtherThread.load() && std::this_thread::get_id() != caller);
        delivered.Add(bytes);
    };
    ASSERT_EQ(engine->Start(), 0);
    EXPECT_NE(engine->Start(), 0);
    EXPECT_TRUE(engine->IsRunning());
    wire->Inject(MakeFrame(0x192, {1, 2, 3}));
    wire->Inject(MakeFrame(0x1ABCDEF, {9}));  // extended: no boot loader's
    wire->Inject(MakeFrame(0x7FF, {}));
    ASSERT_TRUE(Eventually([&] { return delivered.Count() == 2; }));
    {
        std::lock_guard<std::mutex> lock(delivered.mutex);
        EXPECT_EQ(delivered.records[0].id, 0x192);
        EXPECT_EQ(delivered.records[0].length, 3);
        EXPECT_EQ(delivered.records[0].data[2], 3);
        EXPECT_EQ(delivered.records[1].id, 0x7FF);
    }
    EXPECT_TRUE(onOtherThread.load());
    engine->Stop();
    engine->Join();
    EXPECT_FALSE(engine->IsRunning());
    EXPECT_EQ(engine->LastError(), "");
    engine->Disconnect();
    uint8_t scratch[8];
    const uint8_t specifier = 1;
    const uint8_t node = 0;
    EXPECT_NE(engine->SendNmt(&specifier, &node, scratch), 0);
}

TEST(CanOpenEngine, ALostLinkEndsTheThreadAndIsReportedWithTheNode) {
    auto wire = std::make_shared<MemoryCanLink::Wire>();
    auto engine = CanOpenLibrary::CreateCanOpenEngine();
    ASSERT_EQ(engine->Attach(std::make_unique<MemoryCanLink>(wire)), 0);
    const uint8_t node = 0x12;
    const uint32_t on = 1;
    engine->SetNodeState(&node, &on);
    testing::internal::CaptureStderr();
    ASSERT_EQ(engine->Start(), 0);
    wire->HangUp();
    ASSERT_TRUE(Eventually([&] { return !engine->IsRunning(); }));
    engine->Join();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "CAN link lost while talking to node 18 (0 frames sent, 0 received)\n");
    EXPECT_EQ(engine->LastError(),
              "CAN link lost while talking to node 18 (0 frames sent, 0 received)");
}

class RefusingConnector : public TylCommunicationLibraryNG::ICommConnector {
  public:
    std::unique_ptr<orv::ICanLink> OpenRoute(const std::wstring&, const std::wstring& right,
                                             std::string& error) override {
        error = "refused " + std::string(right.begin(), right.end());
        return nullptr;
    }
};

TEST(CanOpenEngine, AFailedConnectKeepsTheConnectorsReason) {
    auto engine = CanOpenLibrary::CreateCanOpenEngine();
    RefusingConnector connector;
    EXPECT_NE(engine->Connect(&connector, L"Ethernet2CAN", L"box"), 0);
    EXPECT_EQ(engine->LastError(), "refused box");
    EXPECT_NE(engine->Connect(nullptr, L"Ethernet2CAN", L"box"), 0);
    EXPECT_NE(engine->Start(), 0);
}

}  // namespace
