// The gateway messages, and the command execution both local transports share, under each one's
// policy.
#include "transport/BootCommandExecutor.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <numeric>

#include "support/FakeClock.h"
#include "transport/ExecutionPolicies.h"
#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace orv {

namespace {

using Bytes = std::vector<uint8_t>;
// "nmt 9612", "212 ff00000000000000" (" failed" when its send failed), "wait 192 20",
// "drain 192 20", "forget", "sleep 1": one sequence, pauses in their place.
using Log = std::vector<std::string>;
// The answers to the waits in turn, as hex text; "" and every wait after the last get none.
using Answers = std::deque<std::string>;

std::string Hex(const uint8_t* bytes, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i)
        text += {"0123456789abcdef"[bytes[i] >> 4], "0123456789abcdef"[bytes[i] & 15]};
    return text;
}

std::string Pad(const std::string& hex) {
    return hex + std::string(16 - hex.size(), '0');
}

// A frame to the node (or to id) whose bytes start with hex, the rest zeros.
std::string F(const std::string& hex, uint16_t id = 0x212) {
    char head[8];
    std::snprintf(head, sizeof head, "%03x ", id);
    return head + Pad(hex);
}

std::string Wait(uint32_t ms, uint16_t id = 0x192, const char* what = "wait") {
    char text[48];
    std::snprintf(text, sizeof text, "%s %03x %u", what, id, ms);
    return text;
}

class RecordingBus : public BootLoaderBus {
  public:
    RecordingBus(Log& log, Answers answers) : log_(log), answers_(std::move(answers)) {}
    int failFrom = 0;  // every send from this one on (1 = the first) fails

    bool SendToNode(uint16_t id, const Frame& frame) override {
        const bool fails = failFrom > 0 && ++sends_ >= failFrom;
        log_.push_back(F(Hex(frame, 8), id) + (fails ? " failed" : ""));
        return !fails;
    }
    void SendNmt(uint8_t specifier, uint8_t node) override {
        const uint8_t bytes[] = {specifier, node};
        log_.push_back("nmt " + Hex(bytes, 2));
    }
    bool WaitReply(uint16_t replyId, uint32_t replyTimeoutMs, Frame& answer) override {
        log_.push_back(Wait(replyTimeoutMs, replyId));
        const std::string hex = answers_.empty() ? "" : answers_.front();
        if (!answers_.empty())
            answers_.pop_front();
        for (size_t i = 0; i < hex.size(); i += 2)
            answer[i / 2] = static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16));
        return !hex.empty();
    }
    void DrainReplies(uint16_t replyId, uint32_t replyTimeoutMs) override {
        log_.push_back(Wait(replyTimeoutMs, replyId, "drain"));
    }
    void ForgetPendingReplies() override { log_.push_back("forget"); }

  private:
    Log& log_;
    Answers answers_;
    int sends_ = 0;
};

// How each transport must carry the commands out, stated here rather than read from its policy.
struct Transport {
    std::string name;
    const ExecutionPolicy& policy;
    uint32_t pollAnswerDelayMs, pollWaitExtraMs, beforeJumpMs, variant1SegmentGapMs;
    bool zeroTail, repollsMisses;  // zeroTail: else a short segment keeps the last one's bytes
};
const Transport kRoute{"Route", kRouteExecution, 0, 10000, 0, 1, true, true};
const Transport kCard{"Card", kCardExecution, 300, 0, 50, 0, false, false};

template <typename Record>
Bytes BytesOf(const Record& record, Bytes tail = {}, size_t count = sizeof(Record)) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
    tail.insert(tail.begin(), bytes, bytes + count);
    return tail;
}

Bytes Params(uint32_t replyTimeoutMs = 20, uint8_t node = 0x12, uint16_t replyBase = 0x180,
             uint16_t requestBase = 0x200) {
    return BytesOf(
        BootInitParams{3, node, 1, 0x1234, 0x800, 0xBEEF, replyTimeoutMs, replyBase, requestBase});
}

Bytes Subblock(uint16_t address, uint16_t length) {
    Bytes data(length);
    std::iota(data.begin(), data.end(), uint8_t{0});
    return BytesOf(SubblockDescriptor{1, address, length, 0xBEEF}, data);
}

Log Join(std::initializer_list<Log> parts, int times = 1) {
    Log all;
    for (int i = 0; i < times; ++i)
        for (const Log& part : parts)
            all.insert(all.end(), part.begin(), part.end());
    return all;
}

Log Pause(uint32_t ms) {
    return ms == 0 ? Log{} : Log{"sleep " + std::to_string(ms)};
}

Log Poll(const Transport& t) {
    return Join({{"forget", F("50")}, Pause(t.pollAnswerDelayMs), {Wait(20 + t.pollWaitExtraMs)}});
}

// The segments of a sub-block from Subblock, each followed by gapMs; from failFrom on
// (0-based) they fail, and stopAtFailure ends the list at the first failed one.
Log Segments(const Transport& t, uint16_t length, uint32_t gapMs, int failFrom = -1,
             bool stopAtFailure = false) {
    Log events;
    uint8_t frame[8] = {};
    for (uint16_t sent = 0, index = 0; sent < length; ++index) {
        const uint16_t n = std::min<uint16_t>(length - sent, 7);
        if (t.zeroTail)
            std::fill(frame, frame + 8, 0);
        frame[0] = static_cast<uint8_t>(0x20 | (index % 2) << 3 | n);
        for (uint16_t i = 0; i < n; ++i)
            frame[1 + i] = static_cast<uint8_t>(sent + i);
        const bool failed = failFrom >= 0 && index >= failFrom;
        events.push_back(F(Hex(frame, 8)) + (failed ? " failed" : ""));
        if (failed && stopAtFailure)
            break;
        events = Join({events, Pause(gapMs)});
        sent = static_cast<uint16_t>(sent + n);
    }
    return events;
}

struct Request {
    uint32_t command;
    Bytes payload = {};
    int declaredLength = -1;  // a dataLength below the payload's, as a caller may leave it
};

const std::string kIdle = "00fc5a", kBusy1 = "0001", kBusy2 = "0002", kAnswer = "a1a2a3a4a5a6a7a8";
const Request kConfigure{CCB_CMD_CONFIGURE, Params()};
const Request kVariant1{CCB_CMD_SELECT_VARIANT_1}, kVariant2{CCB_CMD_SELECT_VARIANT_2};
const Request kBootInit{CCB_CMD_BOOT_INIT, Params()}, kProgram{CCB_CMD_PROGRAM_SUBBLOCK};
const Request kBlock{CCB_CMD_WRITE_SUBBLOCK, Subblock(0x1234, 10)};
const Request kFullBlock{CCB_CMD_WRITE_SUBBLOCK, Subblock(0x1234, 2048)};
const std::vector<Request> kC{kConfigure}, kV1{kConfigure, kVariant1}, kV2{kConfigure, kVariant2};

struct Case {
    std::string name;
    std::vector<Request> setup;
    Request request;
    Answers answers = {};  // taken by the setup first, then by the request
    Log expected = {};     // the request's events only
    uint32_t status = 100;
    std::string data = {};  // the reply's, as hex text (padded to 8 bytes)
    int failSendsFrom = 0;  // 1 = the request's first frame
    const ExecutionPolicy* policy = nullptr;
    friend void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }
};

// clang-format off
std::vector<Case> SimpleCases(const Transport& t) {
    const Request info{CCB_CMD_GET_INFO};
    std::vector<Case> cases = {
        {"Abort", kC, {CCB_CMD_ABORT}, {}, {F("ff")}},
        {"WriteEnable", kC, {CCB_CMD_WRITE_ENABLE}, {}, {F("aa55")}},
        {"JumpToApp", kC, {CCB_CMD_JUMP_TO_APP}, {}, Join({Pause(t.beforeJumpMs), {F("80")}})},
        {"Validate", kC, {CCB_CMD_VALIDATE, {9}}, {}, {F("40")}},
        {"InitExtInfo", kC, {CCB_CMD_INIT_EXT_INFO, Bytes(16, 7)}, {}, {F("c0")}},
        // All eight bytes of the data area go out, whatever the declared length.
        {"SendData", kC, {CCB_CMD_SEND_DATA, {1, 2, 3, 4, 5, 6, 7, 8}, 3}, {},
         {F("0102030405060708")}},
        {"SelectVariant1", kC, kVariant1, {}, {"nmt 8000"}},
        {"Finalize", kC, {CCB_CMD_FINALIZE}, {}, {"nmt 0100"}},
        {"FinalizeClearsTheBases", {kConfigure, {CCB_CMD_FINALIZE}}, info, {},
         {F("70", 0x12), Wait(20, 0x12)}, 101},
        {"FinalizeClearsTheVariant", {kVariant1, {CCB_CMD_FINALIZE}}, kBootInit, {}, {}, 104},
        {"ConfigureSetsNodeTimeoutAndBases",
         {{CCB_CMD_CONFIGURE, Params(1000, 0x25, 0x580, 0x600)}}, info, {kAnswer},
         {F("70", 0x625), Wait(1000, 0x5A5)}, 100, kAnswer},
        {"BeforeConfigureNode7FWaiting2s", {}, info, {}, {F("70", 0x7F), Wait(2000, 0x7F)}, 101},
        {"ReadCode", kC, {CCB_CMD_READ_CODE, {9, 1, 2, 3, 4, 5, 6, 7}}, {kAnswer},
         {F("6001020304050607"), Wait(20)}, 100, kAnswer},
        {"GetInfo", kC, info, {kAnswer}, {F("70"), Wait(20)}, 100, kAnswer},
        {"GetStatus", kC, {CCB_CMD_GET_STATUS}, {kAnswer}, Poll(t), 100, kAnswer},
    };
    for (uint32_t code : {0u, 199u, 211u, 214u, 216u, 219u})
        cases.push_back({"Code" + std::to_string(code), kC, {code, Params()}, {}, {}, 0});
    return cases;
}

std::vector<Case> BootInitCases(const Transport& t) {
    const Log init2 = Join({{"nmt 8000", "nmt 9612", "sleep 4000", F("ff"), F("ff")},
                            Poll(t),
                            {F("000112340800beef"), "sleep 1000"},
                            Poll(t)});
    return {
        // The refusal leaves no variant, and the parameters as they were.
        {"BootInitWithoutVariantKeepsNone", {kConfigure, kBootInit}, kBlock, {}, {}, 104},
        // The refusal does not stick.
        {"BootInitVariant1AfterRefusal", {kBootInit, kVariant1}, kBootInit, {},
         {"nmt 9612", "sleep 2000", F("ff"), Wait(20, 0x192, "drain"), F("000134120008efbe")}},
        {"BootInitVariant2", {kVariant2}, kBootInit, {kBusy1, kAnswer}, init2, 100, kAnswer},
    };
}

std::vector<Case> WriteCases(const Transport& t) {
    const Log header2 = Join({{F("10011234000abeef")}, Poll(t)});
    const Log busy = Join({{"sleep 200"}, Poll(t)});
    const Log full = Join({{F("100134120008efbe")}, Poll(t), {"sleep 300"}});
    const uint32_t gap1 = t.variant1SegmentGapMs;
    return {
        {"WriteWithoutVariant", kC, kBlock, {}, {}, 104},
        {"WriteVariant1Full", kV1, kFullBlock, {kIdle}, Join({full, Segments(t, 2048, gap1)}), 100,
         kIdle},
        {"WriteVariant1StopsAtAFailedSegment", kV1, kFullBlock, {kIdle},
         Join({full, Segments(t, 2048, gap1, 2, true)}), 100, kIdle, 5},
        // A poll without an answer leaves the node as busy as it last said.
        {"WriteVariant2WaitsWhileBusy", kV2, kBlock, {kBusy1, "", kBusy2, kIdle},
         Join({header2, Join({busy}, 3), Segments(t, 10, 1)}), 100, kIdle},
        {"WriteVariant2BusyAtMost25Retries", kV2, kBlock, Answers(30, kBusy1),
         Join({header2, Join({busy}, 25), Segments(t, 10, 1)}), 100, kBusy1},
        {"WriteVariant2KeepsSendingFailedSegments", kV2, kBlock, {kIdle},
         Join({header2, Segments(t, 10, 1, 0)}), 100, kIdle, 3},
        {"WriteVariant2RefusesTheSameAddress", {kConfigure, kVariant2, kBlock}, kBlock, {kIdle},
         {}, 102},
        // No address is the last one before the first write, not even 0.
        {"WriteVariant2FirstAtAddressZero", kV2, {CCB_CMD_WRITE_SUBBLOCK, Subblock(0, 10)}, {kIdle},
         Join({{F("10010000000abeef")}, Poll(t), Segments(t, 10, 1)}), 100, kIdle},
        {"WriteVariant2BootInitForgetsTheAddress", {kConfigure, kVariant2, kBlock, kBootInit},
         kBlock, Answers(4, kIdle), Join({header2, Segments(t, 10, 1)}), 100, kIdle},
    };
}

std::vector<Case> ProgramCases(const Transport& t) {
    const Log start = {F("30")};
    const Log repoll = Join({{"sleep 100"}, Poll(t)});
    // The route polls again at once after a miss and stops at the next answer; the card
    // judges the last answer it got, none yet, so not busy.
    const Log afterMiss = t.repollsMisses ? Join({Poll(t), Poll(t)}) : Poll(t);
    // The route counts 50 polls in all, the card 50 after the first.
    const Log busy =
        t.repollsMisses ? Join({Poll(t), {"sleep 100"}}, 50) : Join({Poll(t), Join({repoll}, 50)});
    const Log silent = t.repollsMisses ? Join({Poll(t)}, 50) : Poll(t);
    return {
        {"ProgramWithoutVariant", kC, kProgram, {}, start},
        {"ProgramVariant1DoesNotPoll", kV1, kProgram, {kBusy1}, start},
        {"ProgramVariant2BusyThenIdle", kV2, kProgram, {kBusy1, kBusy2, kIdle},
         Join({start, Poll(t), repoll, repoll}), 100, kIdle},
        {"ProgramVariant2AnswerAfterAMiss", kV2, kProgram, {"", kBusy1}, Join({start, afterMiss}),
         t.repollsMisses ? 100u : 101u, t.repollsMisses ? kBusy1 : ""},
        {"ProgramVariant2BusyAtMost", kV2, kProgram, Answers(60, kBusy1), Join({start, busy}), 100,
         kBusy1},
        {"ProgramVariant2Silent", kV2, kProgram, {}, Join({start, silent}), 101},
    };
}
// clang-format on

std::vector<Case> AllCases() {
    std::vector<Case> all;
    for (const Transport* t : {&kRoute, &kCard})
        for (auto group : {SimpleCases, BootInitCases, WriteCases, ProgramCases})
            for (Case c : group(*t)) {
                c.name += "_" + t->name;
                c.policy = &t->policy;
                all.push_back(std::move(c));
            }
    return all;
}

void Exchange(BootCommandExecutor& executor, const Request& step, CCcbMessage& reply) {
    CCcbMessage request;
    request.SetAll(static_cast<uint32_t>(step.payload.size()), step.payload.data(), step.command,
                   0);
    if (step.declaredLength >= 0)
        request.SetData(step.payload.data(), static_cast<uint32_t>(step.declaredLength));
    reply.status = 0xFFFFFFFF;
    executor.Execute(request, reply);
    EXPECT_EQ(reply.command, step.command);
}

class Executor : public testing::TestWithParam<Case> {};

TEST_P(Executor, CarriesOutTheWholeSequence) {
    const Case& c = GetParam();
    Log log;
    test::LoggingClock clock(log);
    RecordingBus bus(log, c.answers);
    BootCommandExecutor executor(bus, *c.policy);
    CCcbMessage reply;
    for (const Request& step : c.setup)
        Exchange(executor, step, reply);
    log.clear();
    bus.failFrom = c.failSendsFrom;
    Exchange(executor, c.request, reply);
    EXPECT_EQ(reply.status, c.status);
    EXPECT_EQ(Hex(reply.data, reply.dataLength), c.data.empty() ? "" : Pad(c.data));
    EXPECT_EQ(reply.length, CCcbMessage::kHeaderSize + reply.dataLength);
    EXPECT_EQ(log, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Commands, Executor, testing::ValuesIn(AllCases()),
                         [](const auto& info) { return info.param.name; });

TEST(CcbMessage, WireLayoutAndDefaults) {
    const auto hex = [](const auto& record, size_t count) {
        return Hex(reinterpret_cast<const uint8_t*>(&record), count);
    };
    CCcbMessage message;
    const uint8_t payload[] = {0xAA, 0xBB};
    message.SetAll(2, payload, CCB_CMD_READ_CODE, CCB_STATUS_OK);
    EXPECT_EQ(hex(message, 18), "12000000cc0000006400000002000000aabb");
    message.Clear();
    EXPECT_EQ(hex(message, 16), std::string("10") + std::string(30, '0'));
    EXPECT_EQ(hex(BootInitParams{}, 17), "000000000000000000f401000080010002");
}

}  // namespace

}  // namespace orv
