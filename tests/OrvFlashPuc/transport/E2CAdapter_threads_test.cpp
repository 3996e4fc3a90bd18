// The Ethernet-to-CAN adapter's own part (the commands are the executor's): its waits.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <numeric>
#include <thread>
#include <tuple>

#include "support/FakeClock.h"
#include "support/MemoryCanLink.h"
#include "transport/E2CCommAdapter.h"
#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace orv {

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t kNode = 0x12;
constexpr uint8_t kStoreNode = 0;  // id 0 answers it: so would an empty record left behind

Bytes Record(uint16_t id, uint16_t sequence) {
    CanOpenLibrary::FrameRecord record{.id = id};
    std::memcpy(record.data, &sequence, sizeof sequence);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
    return Bytes(bytes, bytes + sizeof record);
}

// A wait resets the event before it drains: another node's frame before each signals again.
std::vector<uint16_t> Drain(CE2CCommAdapter& adapter, size_t most) {
    std::vector<uint16_t> got;
    uint8_t data[8];
    while (got.size() < most && (adapter.PushFrame(Record(0x55, 0).data()),
                                 adapter.WaitForFrame(data, kStoreNode, 0) == 1))
        got.push_back(static_cast<uint16_t>(data[0] | data[1] << 8));
    return got;
}

// The store grows without losing or reordering frames, also when its oldest frame sits in the
// middle of its 64 first slots.
TEST(E2CAdapter, ReceiveStoreKeepsEveryFrameInOrderAcrossGrowth) {
    CE2CCommAdapter adapter(std::unique_ptr<CanOpenLibrary::ICanOpenEngine>{});
    const std::tuple<int, size_t, uint16_t, uint16_t> rounds[] = {
        {50, 30, 0, 30}, {150, 30, 30, 30}, {250, 1000, 60, 390}};
    uint16_t next = 0;
    for (const auto& [pushed, taken, first, count] : rounds) {
        for (int i = 0; i < pushed; ++i)
            adapter.PushFrame(Record(kStoreNode, next++).data());
        std::vector<uint16_t> expected(count);
        std::iota(expected.begin(), expected.end(), first);
        EXPECT_EQ(Drain(adapter, taken), expected);
    }
}

// A bus on which time runs: each read of the clock comes `stepMs` after the one before and finds
// one more frame of node 0x55 arrived, read number `awaitedAt` the awaited node's instead.
class BusyBus : public test::FakeClock {
  public:
    BusyBus(uint64_t stepMs, int awaitedAt) : stepMs_(stepMs), awaitedAt_(awaitedAt) {}
    uint64_t NowMs() override {
        ++reads_;
        adapter.PushFrame(Record(reads_ < awaitedAt_ ? 0x55 : kStoreNode, 0).data());
        return FakeClock::NowMs() + stepMs_ * static_cast<uint64_t>(reads_);
    }
    CE2CCommAdapter adapter{std::unique_ptr<CanOpenLibrary::ICanOpenEngine>{}};

  private:
    const uint64_t stepMs_;
    const int awaitedAt_;
    int reads_ = 0;
};

// Another node's traffic wakes a wait but does not prolong it: a wait of 100 ms is over by the
// fifth read of the clock, long before the awaited frame comes.
TEST(E2CAdapter, OtherNodesFramesDoNotProlongAWait) {
    BusyBus bus(30, 10);
    uint8_t data[8];
    EXPECT_EQ(bus.adapter.WaitForFrame(data, kStoreNode, 100), 0);
}

// Without an engine (the route could not be reached) nothing goes out: Open says so, and a
// variant-1 sub-block stops at its first segment instead of pacing out all 293.
TEST(E2CAdapter, WithoutAnEngineOpenFailsAndASubblockStopsAtItsFirstSegment) {
    BusyBus bus(60000, 1000);
    EXPECT_EQ(bus.adapter.Open(kNode), 1);
    EXPECT_EQ(bus.adapter.Reset(), 0);
    CCcbMessage request, reply;
    request.SetAll(0, nullptr, CCB_CMD_SELECT_VARIANT_1, 0);
    bus.adapter.Transact(&request, &reply, 24, 20000);
    const SubblockDescriptor descriptor{.address = 0x5000, .length = 2048};
    Bytes payload(sizeof descriptor + 2048, 0x5A);
    std::memcpy(payload.data(), &descriptor, sizeof descriptor);
    request.SetAll(static_cast<uint32_t>(payload.size()), payload.data(), CCB_CMD_WRITE_SUBBLOCK,
                   0);
    bus.adapter.Transact(&request, &reply, 24, 20000);
    EXPECT_EQ(bus.Sleeps(), (std::vector<uint32_t>{300}));
}

// The engine is gone before the queue and the event its callback uses, though frames pour in.
TEST(E2CReceiveThreads, FramesFromTheEnginesThreadAreNeverLostAndDestructionIsClean) {
    constexpr uint16_t kAwaited = 3000;
    auto wire = std::make_shared<test::MemoryCanLink::Wire>();
    std::atomic<bool> stop{false};
    std::thread bus([&] {
        for (uint16_t i = 0; i < kAwaited; ++i)
            wire->Inject(test::MakeFrame(kNode, {static_cast<uint8_t>(i), uint8_t(i >> 8)}));
        // A frame that arrived before the drain that returned its predecessor stays queued
        // unsignalled until the next frame of anyone: keep signalling until all are seen.
        for (int i = 0; i < 1000000 && !stop.load(); ++i) {
            wire->Inject(test::MakeFrame(0x13, {0xFF, 0xFF}));
            std::this_thread::yield();
        }
    });
    std::vector<uint16_t> received, expected(kAwaited);
    {
        CE2CCommAdapter adapter(std::make_unique<test::MemoryCanLink>(wire));
        uint8_t data[8];
        while (received.size() < kAwaited && adapter.WaitForFrame(data, kNode, 5000) == 1)
            received.push_back(static_cast<uint16_t>(data[0] | data[1] << 8));
    }
    stop.store(true);
    bus.join();
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(received, expected);
}

}  // namespace

}  // namespace orv
