// The Ethernet-to-CAN adapter: that it carries the commands out at the route's pace, how its
// waits pick the node's replies from the engine's frames, its receive store, routes that lead
// nowhere. The commands themselves are the executor's tests.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>

#include "support/FakeClock.h"
#include "transport/E2CCommAdapter.h"
#include "transport/FrameRing.h"
#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Bytes8 = std::array<uint8_t, 8>;
// "nmt 96 12", "frame 212 ff 00 00 00 00 00 00 00" (" failed" when its send failed), "sleep 1".
using Log = std::vector<std::string>;

std::string FrameEvent(uint16_t id, const Bytes8& data) {
    char text[64];
    int used = std::snprintf(text, sizeof text, "frame %03x", id);
    for (uint8_t byte : data)
        used += std::snprintf(text + used, sizeof text - static_cast<size_t>(used), " %02x", byte);
    return text;
}

struct Reply {
    Bytes8 data;
    uint16_t id = 0;  // 0: from the addressed node (0x180 | node)
};

// Logs what is sent; a frame whose first byte has a queued answer gets it at once, on the
// caller's thread (no answer: the node stays silent).
class ScriptedEngine : public CanOpenLibrary::ICanOpenEngine {
  public:
    explicit ScriptedEngine(Log& log) : log_(log) {}
    std::map<uint8_t, std::deque<std::vector<Reply>>> script;
    int sends = 0;
    int failFrom = 0;  // every send from this one on (1 = the first) fails
    std::vector<std::pair<uint8_t, uint32_t>> nodeStates;

    int Connect(TylCommunicationLibraryNG::ICommConnector*, const std::wstring&,
                const std::wstring&) override {
        return 1;
    }
    void Disconnect() override {}
    void Join() override {}
    int Start() override { return 0; }
    void Stop() override {}
    int Attach(std::unique_ptr<orv::ICanLink>) override { return 1; }
    std::string LastError() const override { return {}; }
    bool IsRunning() const override { return true; }
    CanOpenLibrary::EngineCounters Counters() const override { return {}; }
    int SetNodeState(const uint8_t* node, const uint32_t* state) override {
        nodeStates.emplace_back(*node, *state);
        return 0;
    }
    int SendNmt(const uint8_t* specifier, const uint8_t* node, uint8_t*) override {
        char text[16];
        std::snprintf(text, sizeof text, "nmt %02x %02x", *specifier, *node);
        log_.push_back(text);
        return 0;
    }
    int SendCanFrame(const uint16_t* id, const uint8_t* data, const uint8_t* length,
                     uint8_t*) override {
        Bytes8 bytes{};
        std::memcpy(bytes.data(), data, *length);
        const bool fails = failFrom > 0 && ++sends >= failFrom;
        log_.push_back(FrameEvent(*id, bytes) + (fails ? " failed" : ""));
        auto queued = script.find(bytes[0]);
        if (fails || queued == script.end() || queued->second.empty())
            return fails ? 1 : 0;
        for (const Reply& reply : queued->second.front()) {
            CanOpenLibrary::FrameRecord record;
            record.id = reply.id != 0 ? reply.id : static_cast<uint16_t>((*id & 0x7F) | 0x180);
            std::memcpy(record.data, reply.data.data(), 8);
            frameCallback(reinterpret_cast<const unsigned char*>(&record));
        }
        queued->second.pop_front();
        return 0;
    }

  private:
    Log& log_;
};

constexpr uint8_t kNode = 0x12;

template <typename Record>
Bytes BytesOf(const Record& record) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
    return Bytes(bytes, bytes + sizeof record);
}

Bytes Params(uint32_t replyTimeoutMs = 20) {
    return BytesOf(BootInitParams{.nodeId = kNode, .replyTimeoutMs = replyTimeoutMs});
}

std::string ToNode(Bytes8 data) {
    return FrameEvent(0x200 | kNode, data);
}

const Bytes8 kIdle{0x00, 0x00, 0x5A};
const Bytes8 kAnswer{0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8};
const Bytes kAnswerData(kAnswer.begin(), kAnswer.end());

class E2CEngine : public testing::Test {
  protected:
    // Node 0x12, requests to 0x212, replies from 0x192, waits of 20 ms.
    E2CEngine() { Run(CCB_CMD_CONFIGURE, Params()); }
    uint32_t Run(uint32_t command, const Bytes& payload = {}) {
        CCcbMessage request;
        request.SetAll(static_cast<uint32_t>(payload.size()), payload.data(), command, 0);
        reply.status = 0xFFFFFFFF;
        EXPECT_EQ(adapter.Transact(&request, &reply, 24, 20000), 0);
        EXPECT_EQ(reply.command, command);
        return reply.status;
    }
    Bytes ReplyData() const { return {reply.data, reply.data + reply.dataLength}; }

    Log log;
    orv::test::LoggingClock clock{log};
    ScriptedEngine* engine = new ScriptedEngine(log);
    CE2CCommAdapter adapter{std::unique_ptr<CanOpenLibrary::ICanOpenEngine>(engine)};
    CCcbMessage reply;
};

// A pause after each segment, zeros after the data; a failed send ends the segments.
TEST_F(E2CEngine, RoutePacesTheSegments) {
    Bytes block = BytesOf(SubblockDescriptor{.address = 0x1234, .length = 10});
    for (uint8_t i = 0; i < 10; ++i)
        block.push_back(i);
    Run(CCB_CMD_SELECT_VARIANT_1);
    engine->script[0x50].push_back({{kIdle}});
    log.clear();
    engine->failFrom = 4;
    EXPECT_EQ(Run(CCB_CMD_WRITE_SUBBLOCK, block), CCB_STATUS_OK);
    EXPECT_EQ(log, (Log{ToNode({0x10, 0x00, 0x34, 0x12, 0x0A}), ToNode({0x50}), "sleep 300",
                        ToNode({0x27, 0, 1, 2, 3, 4, 5, 6}), "sleep 1",
                        ToNode({0x2B, 7, 8, 9}) + " failed"}));
}

// A wait skips the frames of other nodes; a poll's answer is one that came after it.
TEST_F(E2CEngine, WaitsPickTheNodesReplies) {
    engine->script[0x60].push_back({{kIdle, 0x193}, {kAnswer}});
    EXPECT_EQ(Run(CCB_CMD_READ_CODE, Bytes(8)), CCB_STATUS_OK);
    EXPECT_EQ(ReplyData(), kAnswerData);
    engine->script[0x80].push_back({{kIdle}});
    engine->script[0x50].push_back({{kAnswer}});
    Run(CCB_CMD_JUMP_TO_APP);
    EXPECT_EQ(Run(CCB_CMD_GET_STATUS), CCB_STATUS_OK);
    EXPECT_EQ(ReplyData(), kAnswerData);
}

// Nothing of what answered the boot-loader entry is left for the next wait.
TEST_F(E2CEngine, BootInitVariant1SendsNmtAndDrainsEveryAnswer) {
    Run(CCB_CMD_SELECT_VARIANT_1);
    engine->script[0xFF].push_back({{kAnswer}, {kIdle}, {kAnswer}});
    log.clear();
    EXPECT_EQ(Run(CCB_CMD_BOOT_INIT, Params()), CCB_STATUS_OK);
    EXPECT_EQ(log, (Log{"nmt 96 12", "sleep 2000", ToNode({0xFF}), ToNode({0x00})}));
    EXPECT_EQ(Run(CCB_CMD_GET_INFO), CCB_STATUS_NO_REPLY);
}

TEST_F(E2CEngine, OpensThroughTheEngineAndSendsRawFramesLikeAGateway) {
    log.clear();
    EXPECT_EQ(adapter.Open(0x7F), 0);
    EXPECT_EQ(adapter.Reset(), 0);
    EXPECT_EQ(engine->nodeStates, (std::vector<std::pair<uint8_t, uint32_t>>{{0x7F, 1}}));

    CanFrameRequest request;
    request.nodeId = kNode;
    request.baseId = 0x200;
    request.dataLengthCode = 3;
    std::memcpy(request.data, "\xDE\xAD\xBE", 3);
    uint32_t reply[4] = {0, 0, 0, 0xCAFE};
    EXPECT_EQ(adapter.SendRaw(&request, sizeof request, reply, 12, 20000), 0);
    EXPECT_EQ(log, Log{"frame 212 de ad be 00 00 00 00 00"});
    EXPECT_EQ(std::vector<uint32_t>(reply, reply + 4),
              (std::vector<uint32_t>{12, 109, 100, 0xCAFE}));
    uint32_t small[2] = {7, 7};
    EXPECT_EQ(adapter.SendRaw(&request, sizeof request, small, 8, 20000), 0);
    EXPECT_EQ(small[0], 7u) << "no room, nothing written";
    engine->failFrom = 1;
    EXPECT_EQ(adapter.SendRaw(&request, sizeof request, reply, 12, 20000), 1);
}

Bytes Record(uint16_t id, uint8_t first) {
    CanOpenLibrary::FrameRecord record;
    record.id = id;
    for (uint8_t i = 0; i < 8; ++i)
        record.data[i] = static_cast<uint8_t>(first + i);
    return BytesOf(record);
}

// The first byte of every frame for node 0x12 that a wait returns. A wait resets the event
// before it drains, so each is preceded by a frame of another node that signals again.
Bytes Drain(CE2CCommAdapter& adapter) {
    Bytes firsts;
    uint8_t data[8];
    const Bytes other = Record(0x55, 0);
    for (int i = 0; i < 10; ++i) {
        adapter.PushFrame(other.data());
        if (adapter.WaitForFrame(data, kNode, 0) != 1)
            break;
        firsts.push_back(data[0]);
    }
    return firsts;
}

TEST(E2CAdapter, ReceiveStoreCutsTheStreamIntoRecordsAndDropsOtherNodes) {
    CE2CCommAdapter adapter(std::unique_ptr<CanOpenLibrary::ICanOpenEngine>{});
    Bytes stream;
    for (uint8_t first : {0x10, 0x20, 0x30}) {
        const Bytes record = Record(kNode, first);
        stream.insert(stream.end(), record.begin(), record.end());
    }
    // 5 + 19 bytes: one record from 5 + 7, one whole; then 30 + 6: the third completed.
    const struct {
        size_t from, count;
        Bytes firsts;
    } steps[] = {
        {0, 5, {}}, {5, 19, {0x10, 0x20}}, {0, 30, {0x10, 0x20}}, {30, 6, {0x30}}, {0, 0, {}}};
    for (const auto& step : steps) {
        adapter.OnReceiveBytes(stream.data() + step.from, static_cast<int>(step.count));
        EXPECT_EQ(Drain(adapter), step.firsts) << step.from << "+" << step.count;
    }

    for (const Bytes& record : {Record(0x13, 0x10), Record(kNode, 0x20), Record(kNode, 0x30)})
        adapter.PushFrame(record.data());
    uint8_t data[8] = {};
    EXPECT_EQ(adapter.WaitForFrame(data, kNode, 0), 1);
    EXPECT_EQ(data[0], 0x20);
    // The event was reset before the drain: the frame left is seen once another one signals.
    EXPECT_EQ(adapter.WaitForFrame(data, kNode, 0), 0);
    EXPECT_EQ(Drain(adapter), Bytes{0x30});
}

// The store grows when full without losing or reordering frames, also when its oldest frame
// sits in the middle of the slots.
TEST(E2CAdapter, ReceiveStoreKeepsEveryFrameInOrderAcrossGrowth) {
    FrameRing ring;
    CanOpenLibrary::FrameRecord record;
    uint16_t pushed = 0;
    uint16_t popped = 0;
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 50 + round * 100; ++i) {
            record.id = pushed++;
            ring.Push(record);
        }
        for (int i = 0; i < 30; ++i) {
            ASSERT_TRUE(ring.Pop(record));
            EXPECT_EQ(record.id, popped++);
        }
    }
    EXPECT_EQ(ring.Size(), static_cast<size_t>(pushed - popped));
    while (ring.Pop(record))
        EXPECT_EQ(record.id, popped++);
    EXPECT_EQ(popped, pushed);
    ring.Push(record);
    ring.Clear();
    EXPECT_FALSE(ring.Pop(record));
}

// An adapter whose route failed still exists: one line on standard error says why, standard
// output stays untouched, Open succeeds and what waits for the node ends without an answer.
// Without any engine nothing opens or goes out and commands complete unanswered.
TEST(E2CAdapter, UnreachableRouteAndNoEngine) {
    CanFrameRequest raw;
    uint8_t rawReply[12];
    CCcbMessage request;
    CCcbMessage answer;
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    CE2CCommAdapter adapter(L"ethernet2can", L"127.0.0.1:99999");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "socketcand: '99999' is no port number\n");
    EXPECT_EQ(adapter.Open(kNode), 0);
    EXPECT_EQ(adapter.SendRaw(&raw, sizeof raw, rawReply, sizeof rawReply, 100), 1);
    const Bytes params = Params(5);
    request.SetAll(static_cast<uint32_t>(params.size()), params.data(), CCB_CMD_CONFIGURE, 0);
    adapter.Transact(&request, &answer, 16, 2);
    request.SetAll(0, nullptr, CCB_CMD_GET_INFO, 0);
    EXPECT_EQ(adapter.Transact(&request, &answer, 24, 20000), 0);
    EXPECT_EQ(answer.status, 101u);

    CE2CCommAdapter inert(std::unique_ptr<CanOpenLibrary::ICanOpenEngine>{});
    EXPECT_EQ(inert.Open(1), 1);
    EXPECT_EQ(inert.Reset(), 0);
    EXPECT_EQ(inert.SendRaw(&raw, sizeof raw, rawReply, sizeof rawReply, 100), 1);
    request.SetAll(0, nullptr, CCB_CMD_ABORT, 0);
    EXPECT_EQ(inert.Transact(&request, &answer, 16, 20000), 0);
    EXPECT_EQ(answer.status, 100u);
}

}  // namespace
