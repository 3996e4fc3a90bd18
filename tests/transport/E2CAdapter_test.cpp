// The Ethernet-to-CAN adapter carrying out each gateway command itself: the whole sequence of
// NMT commands, frames and pauses, and the reply; its receive store; routes that lead nowhere.
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

// Pauses go into the same log as the frames, so their place in the sequence is checked.
struct LoggingClock : orv::test::FakeClock {
    explicit LoggingClock(Log& log) : log(log) {}
    void SleepMs(uint32_t ms) override {
        log.push_back("sleep " + std::to_string(ms));
        FakeClock::SleepMs(ms);
    }
    Log& log;
};

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

Bytes Params(uint32_t replyTimeoutMs = 20, uint8_t node = kNode, uint16_t requestBase = 0x200) {
    BootInitParams params;
    params.busId = 3;
    params.nodeId = node;
    params.page = 0x01;
    params.startAddress = 0x1234;
    params.length = 0x0800;
    params.checksum = 0xBEEF;
    params.replyTimeoutMs = replyTimeoutMs;
    params.requestBase = requestBase;
    return BytesOf(params);
}

// A poll waits replyTimeoutMs + 10000 ms in 32-bit arithmetic: a reply timeout just below the
// wrap keeps a silent node's polls short. Only for sequences whose plain waits are answered.
Bytes ShortPolls(uint32_t pollMs) {
    return Params(pollMs - 10000u);
}

Bytes SubblockData(uint16_t length) {
    Bytes data(length);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7 + 3);
    return data;
}

Bytes Subblock(uint16_t address, uint16_t length) {
    SubblockDescriptor descriptor;
    descriptor.page = 0x01;
    descriptor.address = address;
    descriptor.length = length;
    descriptor.checksum = 0xBEEF;
    Bytes payload = BytesOf(descriptor);
    const Bytes data = SubblockData(length);
    payload.insert(payload.end(), data.begin(), data.end());
    return payload;
}

std::string ToNode(Bytes8 data) {
    return FrameEvent(0x200 | kNode, data);
}

// A sub-block's segments, each followed by its 1 ms pause; from failFrom on (0-based) they
// fail, and stopAtFailure ends the list at the first failed one.
Log Segments(uint16_t length, int failFrom = -1, bool stopAtFailure = false) {
    const Bytes data = SubblockData(length);
    Log events;
    uint8_t toggle = 0;
    for (size_t sent = 0, index = 0; sent < data.size(); ++index, toggle ^= 0x08) {
        const size_t n = std::min<size_t>(data.size() - sent, 7);
        Bytes8 frame{static_cast<uint8_t>(0x20 | toggle | n)};
        std::copy_n(data.begin() + static_cast<long>(sent), n, frame.begin() + 1);
        const bool failed = failFrom >= 0 && static_cast<int>(index) >= failFrom;
        events.push_back(ToNode(frame) + (failed ? " failed" : ""));
        if (failed && stopAtFailure)
            break;
        events.push_back("sleep 1");
        sent += n;
    }
    return events;
}

Log Join(std::initializer_list<Log> parts, int times = 1) {
    Log all;
    for (int i = 0; i < times; ++i)
        for (const Log& part : parts)
            all.insert(all.end(), part.begin(), part.end());
    return all;
}

struct Request {
    uint32_t command;
    Bytes payload;
    int declaredLength = -1;  // a dataLength below the payload's, as a caller may leave it
};
using Script = std::vector<std::pair<uint8_t, std::vector<Reply>>>;

struct TransactCase {
    std::string name;
    std::vector<Request> setup = {};
    Request request;
    Script script = {};  // consumed by the setup first, then by the request
    Log expected;        // the request's events only
    uint32_t status;
    Bytes data = {};
    int failSendsFrom = 0;  // 1 = the request's first frame
};

// The listing of the tests shows the case's name rather than its bytes.
void PrintTo(const TransactCase& c, std::ostream* out) {
    *out << c.name;
}

const Bytes8 kIdle{0x00, 0x00, 0x5A};
const Bytes8 kBusy1{0x00, 0x01};
const Bytes8 kBusy2{0x00, 0x02};
const Bytes8 kAnswer{0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8};
const Bytes kIdleData(kIdle.begin(), kIdle.end());
const Bytes kBusyData(kBusy1.begin(), kBusy1.end());
const Bytes kAnswerData(kAnswer.begin(), kAnswer.end());
const Request kConfigure{CCB_CMD_CONFIGURE, Params()};
const Request kVariant1{CCB_CMD_SELECT_VARIANT_1, {}};
const Request kVariant2{CCB_CMD_SELECT_VARIANT_2, {}};
const Request kBlock{CCB_CMD_WRITE_SUBBLOCK, Subblock(0x1234, 10)};
const Request kFullBlock{CCB_CMD_WRITE_SUBBLOCK, Subblock(0x1234, 2048)};
const Request kProgram{CCB_CMD_PROGRAM_SUBBLOCK, {}};
const std::pair<uint8_t, std::vector<Reply>> kPollIdle{0x50, {{kIdle}}};
const std::pair<uint8_t, std::vector<Reply>> kPollBusy{0x50, {{kBusy1}}};
const std::string kPoll = ToNode({0x50});
const std::string kInit1 = ToNode({0x00, 0x01, 0x34, 0x12, 0x00, 0x08, 0xEF, 0xBE});
const std::string kInit2 = ToNode({0x00, 0x01, 0x12, 0x34, 0x08, 0x00, 0xBE, 0xEF});
const std::string kHeader1 = ToNode({0x10, 0x01, 0x34, 0x12, 0x00, 0x08, 0xEF, 0xBE});
const std::string kHeader2 = ToNode({0x10, 0x01, 0x12, 0x34, 0x00, 0x0A, 0xBE, 0xEF});

std::vector<TransactCase> Cases() {
    const Log variant2Init = {"nmt 80 00",    "nmt 96 12",    "sleep 4000",
                              ToNode({0xFF}), ToNode({0xFF}), kPoll,
                              kInit2,         "sleep 1000",   kPoll};
    const Request readCode{CCB_CMD_READ_CODE, {9, 1, 2, 3, 4, 5, 6, 7}};
    const std::string readFrame = ToNode({0x60, 1, 2, 3, 4, 5, 6, 7});
    std::vector<TransactCase> cases = {
        {.name = "Abort",
         .setup = {kConfigure},
         .request = {CCB_CMD_ABORT, {}},
         .expected = {ToNode({0xFF})},
         .status = 100},
        {.name = "WriteEnable",
         .setup = {kConfigure},
         .request = {CCB_CMD_WRITE_ENABLE, {}},
         .expected = {ToNode({0xAA, 0x55})},
         .status = 100},
        {.name = "JumpToApp",
         .setup = {kConfigure},
         .request = {CCB_CMD_JUMP_TO_APP, {}},
         .expected = {ToNode({0x80})},
         .status = 100},
        {.name = "Validate",
         .setup = {kConfigure},
         .request = {CCB_CMD_VALIDATE, {}},
         .expected = {ToNode({0x40})},
         .status = 100},
        {.name = "InitExtInfo",
         .setup = {kConfigure},
         .request = {CCB_CMD_INIT_EXT_INFO, Bytes(16, 7)},
         .expected = {ToNode({0xC0})},
         .status = 100},
        // All eight bytes of the data area go out, whatever the declared length.
        {.name = "SendData",
         .setup = {kConfigure},
         .request = {CCB_CMD_SEND_DATA, {1, 2, 3, 4, 5, 6, 7, 8}, 3},
         .expected = {ToNode({1, 2, 3, 4, 5, 6, 7, 8})},
         .status = 100},
        {.name = "SelectVariant1", .request = kVariant1, .expected = {"nmt 80 00"}, .status = 100},
        {.name = "Finalize",
         .setup = {kConfigure},
         .request = {CCB_CMD_FINALIZE, {}},
         .expected = {"nmt 01 00"},
         .status = 100},
        {.name = "FinalizeClearsTheBases",
         .setup = {kConfigure, {CCB_CMD_FINALIZE, {}}},
         .request = {CCB_CMD_ABORT, {}},
         .expected = {FrameEvent(kNode, {0xFF})},
         .status = 100},
        {.name = "FinalizeClearsTheVariant",
         .setup = {kVariant1, {CCB_CMD_FINALIZE, {}}},
         .request = {CCB_CMD_BOOT_INIT, Params()},
         .expected = {},
         .status = 104},
        {.name = "ConfigureSendsNothing", .request = kConfigure, .expected = {}, .status = 100},
        {.name = "ConfigureSetsNodeAndBase",
         .setup = {{CCB_CMD_CONFIGURE, Params(20, 0x21, 0x600)}},
         .request = {CCB_CMD_ABORT, {}},
         .expected = {FrameEvent(0x621, {0xFF})},
         .status = 100},
        {.name = "BeforeConfigureNode7F",
         .request = {CCB_CMD_ABORT, {}},
         .expected = {FrameEvent(0x7F, {0xFF})},
         .status = 100},
        // Answers of other nodes are dropped.
        {.name = "ReadCode",
         .setup = {kConfigure},
         .request = readCode,
         .script = {{0x60, {{kIdle, 0x193}, {kAnswer}}}},
         .expected = {readFrame},
         .status = 100,
         .data = kAnswerData},
        {.name = "ReadCodeSilent",
         .setup = {kConfigure},
         .request = readCode,
         .expected = {readFrame},
         .status = 101},
        {.name = "GetInfo",
         .setup = {kConfigure},
         .request = {CCB_CMD_GET_INFO, {}},
         .script = {{0x70, {{kAnswer}}}},
         .expected = {ToNode({0x70})},
         .status = 100,
         .data = kAnswerData},
        {.name = "GetStatusDropsWhatCameBefore",
         .setup = {kConfigure, {CCB_CMD_JUMP_TO_APP, {}}},
         .request = {CCB_CMD_GET_STATUS, {}},
         .script = {{0x80, {{kIdle}}}, {0x50, {{kAnswer}}}},
         .expected = {kPoll},
         .status = 100,
         .data = kAnswerData},
        {.name = "GetStatusSilent",
         .setup = {{CCB_CMD_CONFIGURE, ShortPolls(5)}},
         .request = {CCB_CMD_GET_STATUS, {}},
         .expected = {kPoll},
         .status = 101},
        {.name = "BootInitWithoutVariant",
         .setup = {kConfigure},
         .request = {CCB_CMD_BOOT_INIT, Params()},
         .expected = {},
         .status = 104},
        // The refusal does not stick; variant 1 reads away every answer to its 0xFF.
        {.name = "BootInitVariant1AfterRefusal",
         .setup = {{CCB_CMD_BOOT_INIT, Params()}, kVariant1},
         .request = {CCB_CMD_BOOT_INIT, Params()},
         .script = {{0xFF, {{kAnswer}, {kIdle}, {kBusy1}}}},
         .expected = {"nmt 96 12", "sleep 2000", ToNode({0xFF}), kInit1},
         .status = 100},
        {.name = "BootInitVariant2",
         .setup = {kVariant2},
         .request = {CCB_CMD_BOOT_INIT, Params()},
         .script = {kPollBusy, {0x50, {{kAnswer}}}},
         .expected = variant2Init,
         .status = 100,
         .data = kAnswerData},
        // The first poll's answer stays in the reply when the last one gets none.
        {.name = "BootInitVariant2LastPollSilent",
         .setup = {kVariant2},
         .request = {CCB_CMD_BOOT_INIT, ShortPolls(5)},
         .script = {{0x50, {{kAnswer}}}},
         .expected = variant2Init,
         .status = 101,
         .data = kAnswerData},
        {.name = "WriteWithoutVariant",
         .setup = {kConfigure},
         .request = kBlock,
         .expected = {},
         .status = 104},
        {.name = "WriteVariant1Full",
         .setup = {kConfigure, kVariant1},
         .request = kFullBlock,
         .script = {kPollIdle},
         .expected = Join({{kHeader1, kPoll, "sleep 300"}, Segments(2048)}),
         .status = 100,
         .data = kIdleData},
        {.name = "WriteVariant1StopsAtAFailedSegment",
         .setup = {kConfigure, kVariant1},
         .request = kFullBlock,
         .script = {kPollIdle},
         .expected = Join({{kHeader1, kPoll, "sleep 300"}, Segments(2048, 2, true)}),
         .status = 100,
         .data = kIdleData,
         .failSendsFrom = 5},
        {.name = "WriteVariant1PollSilent",
         .setup = {{CCB_CMD_CONFIGURE, ShortPolls(5)}, kVariant1},
         .request = kFullBlock,
         .expected = Join({{kHeader1, kPoll, "sleep 300"}, Segments(2048)}),
         .status = 101},
        {.name = "WriteVariant2WaitsWhileBusy",
         .setup = {kConfigure, kVariant2},
         .request = kBlock,
         .script = {kPollBusy, {0x50, {{kBusy2}}}, kPollIdle},
         .expected =
             Join({{kHeader2, kPoll, "sleep 200", kPoll, "sleep 200", kPoll}, Segments(10)}),
         .status = 100,
         .data = kIdleData},
        {.name = "WriteVariant2BusyAtMost25Retries",
         .setup = {kConfigure, kVariant2},
         .request = kBlock,
         .script = Script(30, kPollBusy),
         .expected = Join({{kHeader2, kPoll}, Join({{"sleep 200", kPoll}}, 25), Segments(10)}),
         .status = 100,
         .data = kBusyData},
        {.name = "WriteVariant2KeepsSendingFailedSegments",
         .setup = {kConfigure, kVariant2},
         .request = kBlock,
         .script = {kPollIdle},
         .expected = Join({{kHeader2, kPoll}, Segments(10, 0)}),
         .status = 100,
         .data = kIdleData,
         .failSendsFrom = 3},
        {.name = "WriteVariant2RefusesTheSameAddress",
         .setup = {kConfigure, kVariant2, kBlock},
         .request = kBlock,
         .script = {kPollIdle},
         .expected = {},
         .status = 102},
        {.name = "WriteVariant2TakesAnotherAddress",
         .setup = {kConfigure, kVariant2, kBlock},
         .request = {CCB_CMD_WRITE_SUBBLOCK, Subblock(0x1A34, 10)},
         .script = {kPollIdle, kPollIdle},
         .expected = Join(
             {{ToNode({0x10, 0x01, 0x1A, 0x34, 0x00, 0x0A, 0xBE, 0xEF}), kPoll}, Segments(10)}),
         .status = 100,
         .data = kIdleData},
        {.name = "WriteVariant2BootInitForgetsTheAddress",
         .setup = {kConfigure, kVariant2, kBlock, {CCB_CMD_BOOT_INIT, Params()}},
         .request = kBlock,
         .script = Script(4, kPollIdle),
         .expected = Join({{kHeader2, kPoll}, Segments(10)}),
         .status = 100,
         .data = kIdleData},
        {.name = "ProgramWithoutVariant",
         .setup = {kConfigure},
         .request = kProgram,
         .expected = {ToNode({0x30})},
         .status = 100},
        {.name = "ProgramVariant1DoesNotPoll",
         .setup = {kConfigure, kVariant1},
         .request = kProgram,
         .script = {kPollBusy},
         .expected = {ToNode({0x30})},
         .status = 100},
        {.name = "ProgramVariant2BusyThenIdle",
         .setup = {kConfigure, kVariant2},
         .request = kProgram,
         .script = {kPollBusy, {0x50, {{kBusy2}}}, kPollIdle},
         .expected = {ToNode({0x30}), kPoll, "sleep 100", kPoll, "sleep 100", kPoll},
         .status = 100,
         .data = kIdleData},
        {.name = "ProgramVariant2AnswerAfterAMissEnds",
         .setup = {{CCB_CMD_CONFIGURE, ShortPolls(2)}, kVariant2},
         .request = kProgram,
         .script = {{0x50, {}}, kPollBusy},
         .expected = {ToNode({0x30}), kPoll, kPoll},
         .status = 100,
         .data = kBusyData},
        {.name = "ProgramVariant2BusyAtMost50Polls",
         .setup = {kConfigure, kVariant2},
         .request = kProgram,
         .script = Script(60, kPollBusy),
         .expected = Join({{ToNode({0x30})}, Join({{kPoll, "sleep 100"}}, 50)}),
         .status = 100,
         .data = kBusyData},
        {.name = "ProgramVariant2SilentAtMost50Polls",
         .setup = {{CCB_CMD_CONFIGURE, ShortPolls(2)}, kVariant2},
         .request = kProgram,
         .expected = Join({{ToNode({0x30})}, Log(50, kPoll)}),
         .status = 101},
    };
    for (uint32_t code : {0u, 108u, 300u})
        cases.push_back({.name = "Code" + std::to_string(code),
                         .setup = {kConfigure},
                         .request = {code, Params()},
                         .expected = {},
                         .status = 0});
    return cases;
}

void Exchange(CE2CCommAdapter& adapter, const Request& step, CCcbMessage& reply) {
    CCcbMessage request;
    request.SetAll(static_cast<uint32_t>(step.payload.size()), step.payload.data(), step.command,
                   0);
    if (step.declaredLength >= 0)
        request.SetData(step.payload.data(), static_cast<uint32_t>(step.declaredLength));
    reply.status = 0xFFFFFFFF;
    EXPECT_EQ(adapter.Transact(&request, &reply, 24, 20000), 0);
    EXPECT_EQ(reply.command, step.command);
}

class E2CTransact : public testing::TestWithParam<TransactCase> {};

TEST_P(E2CTransact, CarriesOutTheWholeSequence) {
    const TransactCase& c = GetParam();
    Log log;
    LoggingClock clock(log);
    auto owned = std::make_unique<ScriptedEngine>(log);
    ScriptedEngine& engine = *owned;
    CE2CCommAdapter adapter(std::move(owned));
    for (const auto& [trigger, replies] : c.script)
        engine.script[trigger].push_back(replies);
    CCcbMessage reply;
    for (const Request& step : c.setup)
        Exchange(adapter, step, reply);
    log.clear();
    engine.sends = 0;
    engine.failFrom = c.failSendsFrom;
    Exchange(adapter, c.request, reply);
    EXPECT_EQ(reply.status, c.status);
    EXPECT_EQ(Bytes(reply.data, reply.data + reply.dataLength), c.data);
    EXPECT_EQ(reply.length, CCcbMessage::kHeaderSize + reply.dataLength);
    EXPECT_EQ(log, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Codes, E2CTransact, testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

TEST(E2CAdapter, OpensThroughTheEngineAndSendsRawFramesLikeAGateway) {
    Log log;
    auto owned = std::make_unique<ScriptedEngine>(log);
    ScriptedEngine& engine = *owned;
    CE2CCommAdapter adapter(std::move(owned));
    EXPECT_EQ(adapter.Open(0x7F), 0);
    EXPECT_EQ(adapter.Reset(), 0);
    EXPECT_EQ(engine.nodeStates, (std::vector<std::pair<uint8_t, uint32_t>>{{0x7F, 1}}));

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
    engine.failFrom = 1;
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

// The segment layout pinned without the helper that builds the expected sequences: 2048 =
// 292 x 7 + 4, so the last segment carries 4 bytes, its toggle clear after 292 changes.
TEST(E2CTransactSegments, FullSubblockIs293SegmentsWithAlternatingToggle) {
    Log log;
    LoggingClock clock(log);
    auto owned = std::make_unique<ScriptedEngine>(log);
    owned->script[0x50].push_back({{kIdle}});
    CE2CCommAdapter adapter(std::move(owned));
    CCcbMessage reply;
    for (const Request& step : {kConfigure, kVariant1, kFullBlock})
        Exchange(adapter, step, reply);
    Log segments;
    for (const std::string& event : log)
        if (event.rfind("frame 212 2", 0) == 0)
            segments.push_back(event.substr(0, 12));
    ASSERT_EQ(segments.size(), 293u);
    EXPECT_EQ(Log(segments.begin(), segments.begin() + 3),
              (Log{"frame 212 27", "frame 212 2f", "frame 212 27"}));
    EXPECT_EQ(segments.back(), "frame 212 24");
    EXPECT_EQ(log[4], "frame 212 27 03 0a 11 18 1f 26 2d");
    EXPECT_EQ(std::count(log.begin(), log.end(), "sleep 1"), 293);
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
