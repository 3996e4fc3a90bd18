// The receive path where the engine's thread meets the caller's: frames pushed while a wait
// drains the queue, and an adapter destroyed while its engine thread still delivers.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "support/MemoryCanLink.h"
#include "transport/E2CCommAdapter.h"

namespace {

constexpr uint8_t kNode = 0x12;

void Push(CE2CCommAdapter& adapter, uint16_t id, uint16_t sequence) {
    CanOpenLibrary::FrameRecord record;
    record.id = id;
    std::memcpy(record.data, &sequence, sizeof sequence);
    adapter.PushFrame(reinterpret_cast<const unsigned char*>(&record));
}

TEST(E2CReceiveThreads, FramesPushedWhileWaitsDrainAreNeverLostAndOthersAreDropped) {
    constexpr uint16_t kAwaited = 3000;
    CE2CCommAdapter adapter(std::unique_ptr<CanOpenLibrary::ICanOpenEngine>{});
    std::atomic<bool> done{false};
    std::thread producer([&] {
        for (uint16_t i = 0; i < kAwaited; ++i) {
            Push(adapter, 0x13, 0xFFFF);
            Push(adapter, kNode, i);
            Push(adapter, 0x92, 0xFFFF);
        }
        // A frame that arrived before the drain that returned its predecessor stays queued
        // unsignalled until the next frame of anyone: keep signalling until all are seen.
        for (int i = 0; i < 1000000 && !done.load(); ++i) {
            Push(adapter, 0x13, 0xFFFF);
            std::this_thread::yield();
        }
    });
    std::vector<uint16_t> received;
    uint8_t data[8];
    while (received.size() < kAwaited && adapter.WaitForFrame(data, kNode, 5000) == 1) {
        uint16_t sequence;
        std::memcpy(&sequence, data, sizeof sequence);
        received.push_back(sequence);
    }
    done.store(true);
    producer.join();
    std::vector<uint16_t> expected(kAwaited);
    for (uint16_t i = 0; i < kAwaited; ++i)
        expected[i] = i;
    EXPECT_EQ(received, expected);
}

// The engine must be gone before the queue and the event its callback uses.
TEST(E2CReceiveThreads, DestructionWhileFramesPourInIsClean) {
    auto wire = std::make_shared<orv::test::MemoryCanLink::Wire>();
    std::atomic<bool> stop{false};
    std::thread bus([&] {
        for (int i = 0; i < 200000 && !stop.load(); ++i)
            wire->Inject(orv::test::MakeFrame(kNode, {static_cast<uint8_t>(i)}));
    });
    {
        CE2CCommAdapter adapter(std::make_unique<orv::test::MemoryCanLink>(wire));
        uint8_t data[8];
        // No parameters yet: the reply base is 0, so the node's frames are its answers.
        EXPECT_EQ(adapter.WaitForFrame(data, kNode, 5000), 1);
    }
    stop.store(true);
    bus.join();
}

}  // namespace
