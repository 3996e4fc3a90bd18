// The Ethernet-to-CAN adapter around the shared command execution: how its waits pick the
// node's replies from the engine's frames, its receive store, raw frames, and the receive path
// where the engine's thread meets the caller's. The commands themselves are the executor's.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <deque>
#include <map>
#include <thread>

#include "support/FakeClock.h"
#include "support/InertCanOpenEngine.h"
#include "support/MemoryCanLink.h"
#include "transport/E2CCommAdapter.h"
#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Bytes8 = std::array<uint8_t, 8>;
using Log = std::vector<std::string>;  // "nmt 96 12", "212: ff 00 ...", "sleep 1"
constexpr uint8_t kNode = 0x12;

// Logs what is sent; a frame whose first byte has queued answers gets them at once, from
// (id, data) pairs, id 0 meaning the addressed node.
class ScriptedEngine : public orv::test::InertCanOpenEngine {
  public:
    explicit ScriptedEngine(Log& log) : log_(log) {}
    std::map<uint8_t, std::deque<std::vector<std::pair<uint16_t, Bytes8>>>> script;
    int failFrom = 0;  // every send from this one on (1 = the first) fails
    int sends = 0;
    std::vector<std::pair<uint8_t, uint32_t>> nodeStates;

    int SetNodeState(const uint8_t* node, const uint32_t* state) override {
        nodeStates.emplace_back(*node, *state);
        return 0;
    }
    int SendNmt(const uint8_t* specifier, const uint8_t* node, uint8_t*) override {
        log_.push_back("nmt " + Hex({*specifier, *node}));
        return 0;
    }
    int SendCanFrame(const uint16_t* id, const uint8_t* data, const uint8_t* length,
                     uint8_t*) override {
        Bytes8 bytes{};
        std::memcpy(bytes.data(), data, *length);
        const bool fails = failFrom > 0 && ++sends >= failFrom;
        log_.push_back(std::to_string(*id) + ": " + Hex({bytes.begin(), bytes.end()}) +
                       (fails ? " failed" : ""));
        auto queued = script.find(bytes[0]);
        if (fails || queued == script.end() || queued->second.empty())
            return fails ? 1 : 0;
        for (const auto& [from, answer] : queued->second.front()) {
            CanOpenLibrary::FrameRecord record;
            record.id = from != 0 ? from : static_cast<uint16_t>((*id & 0x7F) | 0x180);
            std::memcpy(record.data, answer.data(), 8);
            frameCallback(reinterpret_cast<const unsigned char*>(&record));
        }
        queued->second.pop_front();
        return 0;
    }
    static std::string Hex(const Bytes& bytes) {
        std::string text;
        for (uint8_t byte : bytes)
            text += (text.empty() ? "" : " ") + std::string(1, "0123456789abcdef"[byte >> 4]) +
                    "0123456789abcdef"[byte & 15];
        return text;
    }

  private:
    Log& log_;
};

const Bytes8 kIdle{0x00, 0x00, 0x5A};
const Bytes8 kAnswer{0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8};
const Bytes kAnswerData(kAnswer.begin(), kAnswer.end());

class E2CEngine : public testing::Test {
  protected:
    // Node 0x12: requests to 0x212 (530), replies from 0x192, waits of 20 ms.
    E2CEngine() {
        const BootInitParams params{.nodeId = kNode, .replyTimeoutMs = 20};
        Run(CCB_CMD_CONFIGURE, {reinterpret_cast<const uint8_t*>(&params),
                                reinterpret_cast<const uint8_t*>(&params) + sizeof params});
    }
    uint32_t Run(uint32_t command, const Bytes& payload = {}) {
        CCcbMessage request;
        request.SetAll(static_cast<uint32_t>(payload.size()), payload.data(), command, 0);
        EXPECT_EQ(adapter.Transact(&request, &reply, 24, 20000), 0);
        return reply.status;
    }
    Bytes ReplyData() const { return {reply.data, reply.data + reply.dataLength}; }

    Log log;
    orv::test::LoggingClock clock{log};
    ScriptedEngine* engine = new ScriptedEngine(log);
    CE2CCommAdapter adapter{std::unique_ptr<CanOpenLibrary::ICanOpenEngine>(engine)};
    CCcbMessage reply;
};

// A wait skips the frames of other nodes; a poll's answer is one that came after it; nothing
// that answered the boot-loader entry is left for the next wait.
TEST_F(E2CEngine, WaitsPickTheNodesFreshReplies) {
    engine->script[0x60].push_back({{0x193, kIdle}, {0, kAnswer}});
    EXPECT_EQ(Run(CCB_CMD_READ_CODE, Bytes(8)), CCB_STATUS_OK);
    EXPECT_EQ(ReplyData(), kAnswerData);
    engine->script[0x80].push_back({{0, kIdle}});
    engine->script[0x50].push_back({{0, kAnswer}});
    Run(CCB_CMD_JUMP_TO_APP);
    EXPECT_EQ(Run(CCB_CMD_GET_STATUS), CCB_STATUS_OK);
    EXPECT_EQ(ReplyData(), kAnswerData);

    Run(CCB_CMD_SELECT_VARIANT_1);
    engine->script[0xFF].push_back({{0, kAnswer}, {0, kIdle}, {0, kAnswer}});
    EXPECT_EQ(Run(CCB_CMD_BOOT_INIT, Bytes(sizeof(BootInitParams))), CCB_STATUS_OK);
    EXPECT_EQ(Run(CCB_CMD_GET_INFO), CCB_STATUS_NO_REPLY);
}

TEST_F(E2CEngine, OpensThroughTheEngineAndSendsRawFramesLikeAGateway) {
    EXPECT_EQ(adapter.Open(0x7F), 0);
    EXPECT_EQ(adapter.Reset(), 0);
    EXPECT_EQ(engine->nodeStates, (std::vector<std::pair<uint8_t, uint32_t>>{{0x7F, 1}}));
    CanFrameRequest request;
    request.nodeId = kNode;
    request.baseId = 0x200;
    request.dataLengthCode = 3;
    std::memcpy(request.data, "\xDE\xAD\xBE", 3);
    log.clear();
    uint32_t answer[4] = {0, 0, 0, 0xCAFE};
    EXPECT_EQ(adapter.SendRaw(&request, sizeof request, answer, 12, 20000), 0);
    EXPECT_EQ(log, Log{"530: de ad be 00 00 00 00 00"});
    EXPECT_EQ(std::vector<uint32_t>(answer, answer + 4),
              (std::vector<uint32_t>{12, 109, 100, 0xCAFE}));
    uint32_t small[2] = {7, 7};
    EXPECT_EQ(adapter.SendRaw(&request, sizeof request, small, 8, 20000), 0);
    EXPECT_EQ(small[0], 7u) << "no room, nothing written";
    engine->failFrom = 1;
    EXPECT_EQ(adapter.SendRaw(&request, sizeof request, answer, 12, 20000), 1);

    // Without an engine nothing opens or goes out, and commands complete unanswered.
    CE2CCommAdapter inert(std::unique_ptr<CanOpenLibrary::ICanOpenEngine>{});
    EXPECT_EQ(inert.Open(1), 1);
    EXPECT_EQ(inert.SendRaw(&request, sizeof request, answer, 12, 100), 1);
}

Bytes Record(uint16_t id, uint16_t sequence) {
    CanOpenLibrary::FrameRecord record;
    record.id = id;
    std::memcpy(record.data, &sequence, sizeof sequence);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
    return Bytes(bytes, bytes + sizeof record);
}

// The sequence numbers of the node's frames that waits return. A wait resets the event before
// it drains, so each is preceded by a frame of another node that signals again.
std::vector<uint16_t> Drain(CE2CCommAdapter& adapter, size_t most) {
    std::vector<uint16_t> got;
    uint8_t data[8];
    while (got.size() < most) {
        adapter.PushFrame(Record(0x55, 0).data());
        if (adapter.WaitForFrame(data, kNode, 0) != 1)
            break;
        got.push_back(static_cast<uint16_t>(data[0] | data[1] << 8));
    }
    return got;
}

// 12-byte records cut anywhere, each queued once whole; the store grows without losing or
// reordering frames, also when its oldest frame sits in the middle of the slots.
TEST(E2CAdapter, ReceiveStoreCutsTheStreamAndKeepsEveryFrameInOrder) {
    CE2CCommAdapter adapter(std::unique_ptr<CanOpenLibrary::ICanOpenEngine>{});
    Bytes stream;
    for (uint16_t sequence : {1, 2, 3}) {
        const Bytes record = Record(kNode, sequence);
        stream.insert(stream.end(), record.begin(), record.end());
    }
    const struct {
        size_t from, count;
        std::vector<uint16_t> got;
    } steps[] = {{0, 5, {}}, {5, 19, {1, 2}}, {0, 30, {1, 2}}, {30, 6, {3}}, {0, 0, {}}};
    for (const auto& step : steps) {
        adapter.OnReceiveBytes(stream.data() + step.from, static_cast<int>(step.count));
        EXPECT_EQ(Drain(adapter, 10), step.got) << step.from << "+" << step.count;
    }
    // 64 slots at first: the second round fills them while the oldest frame is the 31st.
    const struct {
        int pushed;
        size_t taken;
        uint16_t first, count;
    } rounds[] = {{50, 30, 0, 30}, {150, 30, 30, 30}, {250, 1000, 60, 390}};
    uint16_t next = 0;
    for (const auto& round : rounds) {
        for (int i = 0; i < round.pushed; ++i)
            adapter.PushFrame(Record(kNode, next++).data());
        std::vector<uint16_t> expected(round.count);
        for (uint16_t i = 0; i < round.count; ++i)
            expected[i] = static_cast<uint16_t>(round.first + i);
        EXPECT_EQ(Drain(adapter, round.taken), expected);
    }
    // The event was reset before the drain: the frame left is seen once another one signals.
    adapter.PushFrame(Record(kNode, 1).data());
    adapter.PushFrame(Record(kNode, 2).data());
    uint8_t data[8];
    EXPECT_EQ(adapter.WaitForFrame(data, kNode, 0), 1);
    EXPECT_EQ(adapter.WaitForFrame(data, kNode, 0), 0);
    EXPECT_EQ(Drain(adapter, 10), std::vector<uint16_t>{2});
}

TEST(E2CReceiveThreads, FramesPushedWhileWaitsDrainAreNeverLostAndOthersAreDropped) {
    constexpr uint16_t kAwaited = 3000;
    CE2CCommAdapter adapter(std::unique_ptr<CanOpenLibrary::ICanOpenEngine>{});
    std::atomic<bool> done{false};
    std::thread producer([&] {
        for (uint16_t i = 0; i < kAwaited; ++i)
            for (uint16_t id : {0x13, +kNode, 0x92})
                adapter.PushFrame(Record(id, id == kNode ? i : 0xFFFF).data());
        // A frame that arrived before the drain that returned its predecessor stays queued
        // unsignalled until the next frame of anyone: keep signalling until all are seen.
        for (int i = 0; i < 1000000 && !done.load(); ++i) {
            adapter.PushFrame(Record(0x13, 0xFFFF).data());
            std::this_thread::yield();
        }
    });
    std::vector<uint16_t> received;
    uint8_t data[8];
    while (received.size() < kAwaited && adapter.WaitForFrame(data, kNode, 5000) == 1)
        received.push_back(static_cast<uint16_t>(data[0] | data[1] << 8));
    done.store(true);
    producer.join();
    ASSERT_EQ(received.size(), kAwaited);
    for (uint16_t i = 0; i < kAwaited; ++i)
        ASSERT_EQ(received[i], i);
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
