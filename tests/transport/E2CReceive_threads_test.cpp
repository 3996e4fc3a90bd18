// The receive path where the engine's thread meets the caller's: frames pushed while a wait
// drains the queue, and a real engine thread over an in-memory link.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "support/MemoryCanLink.h"
#include "transport/E2CCommAdapter.h"
#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace {

using orv::test::MakeFrame;
using orv::test::MemoryCanLink;

constexpr uint8_t kNode = 0x12;

FrameRecord Record(uint16_t id, uint16_t sequence) {
    FrameRecord record;
    record.id = id;
    std::memcpy(record.data, &sequence, sizeof sequence);
    return record;
}

void Push(CE2CCommAdapter& adapter, const FrameRecord& record) {
    adapter.PushFrame(reinterpret_cast<const unsigned char*>(&record));
}

std::unique_ptr<CE2CCommAdapter> InertAdapter() {
    return std::make_unique<CE2CCommAdapter>(std::unique_ptr<CanOpenLibrary::ICanOpenEngine>{});
}

TEST(E2CReceiveThreads, FramesPushedWhileWaitsDrainAreNeverLost) {
    constexpr uint16_t kAwaited = 3000;
    auto adapter = InertAdapter();
    std::atomic<bool> done{false};
    std::thread producer([&] {
        for (uint16_t i = 0; i < kAwaited; ++i) {
            Push(*adapter, Record(0x13, 0xFFFF));
            Push(*adapter, Record(kNode, i));
            Push(*adapter, Record(0x92, 0xFFFF));
        }
        // A frame stays queued unsignalled when it arrived before the drain that returned its
        // predecessor; the next frame of anyone signals it. Keep signalling until all are seen.
        for (int i = 0; i < 1000000 && !done.load(); ++i) {
            Push(*adapter, Record(0x13, 0xFFFF));
            std::this_thread::yield();
        }
    });
    std::vector<uint16_t> received;
    uint8_t data[8];
    while (received.size() < kAwaited && adapter->WaitForFrame(data, kNode, 5000) == 1) {
        uint16_t sequence;
        std::memcpy(&sequence, data, sizeof sequence);
        received.push_back(sequence);
    }
    done.store(true);
    producer.join();
    ASSERT_EQ(received.size(), kAwaited);
    for (uint16_t i = 0; i < kAwaited; ++i) {
        ASSERT_EQ(received[i], i);
    }
}

TEST(E2CReceiveThreads, AWaitWakesForAFrameThatComesLater) {
    auto adapter = InertAdapter();
    std::thread producer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        Push(*adapter, Record(0x13, 1));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        Push(*adapter, Record(kNode, 2));
    });
    uint8_t data[8] = {};
    EXPECT_EQ(adapter->WaitForFrame(data, kNode, 10000), 1);
    EXPECT_EQ(data[0], 2);
    producer.join();
}

TEST(E2CReceiveThreads, AZeroWaitReturnsAtOnce) {
    auto adapter = InertAdapter();
    uint8_t data[8] = {};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(adapter->WaitForFrame(data, kNode, 0), 0);
    Push(*adapter, Record(0x13, 1));
    EXPECT_EQ(adapter->WaitForFrame(data, kNode, 0), 0);
    // A hang guard, not a speed target.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

// A node on the far side of the link: answers the boot loader's info request and polls.
void AnswerLikeANode(const std::shared_ptr<MemoryCanLink::Wire>& wire) {
    // The wire holds this callback: a pointer, not a share of itself.
    wire->onSend = [bus = wire.get()](const orv::CanFrame& frame) {
        if (frame.id == (0x200u | kNode) && (frame.data[0] == 0x70 || frame.data[0] == 0x50)) {
            bus->Inject(MakeFrame(0x393, {0xEE}));
            bus->Inject(MakeFrame(0x180 | kNode, {frame.data[0], 0x00, 'V', '3', '1'}));
        }
    };
}

CCcbMessage Request(uint32_t command, const void* payload = nullptr, uint32_t size = 0) {
    CCcbMessage request;
    request.SetAll(size, payload, command, 0);
    return request;
}

TEST(E2CReceiveThreads, AnswersComeThroughTheEngineThread) {
    auto wire = std::make_shared<MemoryCanLink::Wire>();
    AnswerLikeANode(wire);
    CE2CCommAdapter adapter(std::make_unique<MemoryCanLink>(wire));
    BootInitParams params;
    params.nodeId = kNode;
    params.replyTimeoutMs = 5000;
    CCcbMessage reply;
    CCcbMessage request = Request(CCB_CMD_CONFIGURE, &params, sizeof params);
    adapter.Transact(&request, &reply, 16, 2);
    for (uint32_t command : {CCB_CMD_GET_INFO, CCB_CMD_GET_STATUS, CCB_CMD_GET_INFO}) {
        request = Request(command);
        EXPECT_EQ(adapter.Transact(&request, &reply, 24, 20000), 0);
        EXPECT_EQ(reply.status, 100u);
        ASSERT_EQ(reply.dataLength, 8u);
        EXPECT_EQ(reply.data[2], 'V');
    }
    EXPECT_EQ(wire->Sent().size(), 3u);
}

TEST(E2CReceiveThreads, DestructionWhileFramesPourInIsClean) {
    auto wire = std::make_shared<MemoryCanLink::Wire>();
    std::atomic<bool> stop{false};
    std::thread bus([&] {
        for (int i = 0; i < 200000 && !stop.load(); ++i) {
            wire->Inject(MakeFrame(kNode, {static_cast<uint8_t>(i)}));
        }
    });
    {
        CE2CCommAdapter adapter(std::make_unique<MemoryCanLink>(wire));
        uint8_t data[8];
        // No parameters yet: the reply base is 0.
        EXPECT_EQ(adapter.WaitForFrame(data, kNode, 5000), 1);
    }
    stop.store(true);
    bus.join();
}

}  // namespace
