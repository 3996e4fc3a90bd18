// The one execution of the gateway commands that both local transports share, under each
// transport's policy: the whole sequence of NMT commands, frames, waits and pauses, and the reply.
#include "transport/BootCommandExecutor.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <deque>
#include <optional>

#include "support/FakeClock.h"
#include "transport/ExecutionPolicies.h"
#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Bytes8 = std::array<uint8_t, 8>;
// "nmt 96 12", "frame 212 ff 00 00 00 00 00 00 00" (" failed" when its send failed),
// "wait 192 20", "drain 192 20", "forget", "sleep 1": one sequence, pauses in their place.
using Log = std::vector<std::string>;
// The answers to the waits in turn; nullopt, and every wait after the last, gets none.
using Answers = std::deque<std::optional<Bytes8>>;

std::string FrameEvent(uint16_t id, const Bytes8& data) {
    char text[64];
    int used = std::snprintf(text, sizeof text, "frame %03x", id);
    for (uint8_t byte : data)
        used += std::snprintf(text + used, sizeof text - static_cast<size_t>(used), " %02x", byte);
    return text;
}

std::string IdEvent(const char* what, uint16_t id, uint32_t value) {
    char text[48];
    std::snprintf(text, sizeof text, "%s %03x %u", what, id, value);
    return text;
}

class RecordingBus : public BootLoaderBus {
  public:
    explicit RecordingBus(Log& log) : log_(log) {}
    Answers answers;
    int sends = 0;
    int failFrom = 0;  // every send from this one on (1 = the first) fails

    bool SendToNode(uint16_t id, const Frame& frame) override {
        Bytes8 bytes;
        std::copy(frame, frame + 8, bytes.begin());
        const bool fails = failFrom > 0 && ++sends >= failFrom;
        log_.push_back(FrameEvent(id, bytes) + (fails ? " failed" : ""));
        return !fails;
    }
    void SendNmt(uint8_t specifier, uint8_t node) override {
        char text[16];
        std::snprintf(text, sizeof text, "nmt %02x %02x", specifier, node);
        log_.push_back(text);
    }
    bool WaitReply(uint16_t replyId, uint32_t replyTimeoutMs, Frame& answer) override {
        log_.push_back(IdEvent("wait", replyId, replyTimeoutMs));
        const bool answered = !answers.empty() && answers.front().has_value();
        if (answered)
            std::copy(answers.front()->begin(), answers.front()->end(), answer);
        if (!answers.empty())
            answers.pop_front();
        return answered;
    }
    void DrainReplies(uint16_t replyId, uint32_t replyTimeoutMs) override {
        log_.push_back(IdEvent("drain", replyId, replyTimeoutMs));
    }
    void ForgetPendingReplies() override { log_.push_back("forget"); }

  private:
    Log& log_;
};

// How each transport must carry the commands out, stated here rather than read from its policy.
struct Transport {
    std::string name;
    const ExecutionPolicy& policy;
    uint32_t pollAnswerDelayMs = 0;  // 0: no pause
    uint32_t pollWaitExtraMs = 0;
    uint32_t beforeJumpMs = 0;
    uint32_t variant1SegmentGapMs = 0;
    bool zeroTail = false;  // else a short segment keeps the bytes of the one before
    bool repollsMisses = false;
};
const Transport kRoute{.name = "Route",
                       .policy = kRouteExecution,
                       .pollWaitExtraMs = 10000,
                       .variant1SegmentGapMs = 1,
                       .zeroTail = true,
                       .repollsMisses = true};
const Transport kCard{
    .name = "Card", .policy = kCardExecution, .pollAnswerDelayMs = 300, .beforeJumpMs = 50};

template <typename Record>
Bytes BytesOf(const Record& record, Bytes tail = {}) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
    tail.insert(tail.begin(), bytes, bytes + sizeof record);
    return tail;
}

Bytes Params(uint32_t replyTimeoutMs = 20, uint8_t node = 0x12, uint16_t replyBase = 0x180,
             uint16_t requestBase = 0x200) {
    return BytesOf(BootInitParams{.busId = 3,
                                  .nodeId = node,
                                  .page = 1,
                                  .startAddress = 0x1234,
                                  .length = 0x800,
                                  .checksum = 0xBEEF,
                                  .replyTimeoutMs = replyTimeoutMs,
                                  .replyBase = replyBase,
                                  .requestBase = requestBase});
}

// The data bytes count up from 0.
Bytes Subblock(uint16_t address, uint16_t length) {
    Bytes data(length);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i);
    return BytesOf(
        SubblockDescriptor{.page = 1, .address = address, .length = length, .checksum = 0xBEEF},
        data);
}

std::string ToNode(const Bytes8& data) {
    return FrameEvent(0x212, data);
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
    return Join({{"forget", ToNode({0x50})},
                 Pause(t.pollAnswerDelayMs),
                 {IdEvent("wait", 0x192, 20 + t.pollWaitExtraMs)}});
}

// The segments of a sub-block from Subblock, each followed by gapMs; from failFrom on
// (0-based) they fail, and stopAtFailure ends the list at the first failed one.
Log Segments(const Transport& t, uint16_t length, uint32_t gapMs, int failFrom = -1,
             bool stopAtFailure = false) {
    Log events;
    Bytes8 frame{};
    uint8_t toggle = 0;
    for (uint16_t sent = 0, index = 0; sent < length; ++index, toggle ^= 0x08) {
        const uint16_t n = std::min<uint16_t>(length - sent, 7);
        if (t.zeroTail)
            frame.fill(0);
        frame[0] = static_cast<uint8_t>(0x20 | toggle | n);
        for (uint16_t i = 0; i < n; ++i)
            frame[1 + i] = static_cast<uint8_t>(sent + i);
        const bool failed = failFrom >= 0 && index >= failFrom;
        events.push_back(ToNode(frame) + (failed ? " failed" : ""));
        if (failed && stopAtFailure)
            break;
        if (gapMs != 0)
            events.push_back("sleep " + std::to_string(gapMs));
        sent = static_cast<uint16_t>(sent + n);
    }
    return events;
}

struct Request {
    uint32_t command;
    Bytes payload = {};
    int declaredLength = -1;  // a dataLength below the payload's, as a caller may leave it
};

const Bytes8 kIdle{0x00, 0xFC, 0x5A};
const Bytes8 kBusy1{0x00, 0x01};
const Bytes8 kBusy2{0x00, 0x02};
const Bytes8 kAnswer{0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8};
const Bytes kIdleData(kIdle.begin(), kIdle.end());
const Bytes kBusyData(kBusy1.begin(), kBusy1.end());
const Bytes kAnswerData(kAnswer.begin(), kAnswer.end());
const Request kConfigure{CCB_CMD_CONFIGURE, Params()};
const Request kVariant1{CCB_CMD_SELECT_VARIANT_1};
const Request kVariant2{CCB_CMD_SELECT_VARIANT_2};
const Request kBootInit{CCB_CMD_BOOT_INIT, Params()};
const Request kBlock{CCB_CMD_WRITE_SUBBLOCK, Subblock(0x1234, 10)};
const Request kFullBlock{CCB_CMD_WRITE_SUBBLOCK, Subblock(0x1234, 2048)};
const Request kProgram{CCB_CMD_PROGRAM_SUBBLOCK};
struct Case {
    std::string name;
    std::vector<Request> setup = {kConfigure};
    Request request;
    Answers answers = {};  // taken by the setup first, then by the request
    Log expected = {};     // the request's events only
    uint32_t status = 100;
    Bytes data = {};
    int failSendsFrom = 0;  // 1 = the request's first frame
    const ExecutionPolicy* policy = nullptr;
};

const std::string kInit1 = ToNode({0x00, 0x01, 0x34, 0x12, 0x00, 0x08, 0xEF, 0xBE});
const std::string kInit2 = ToNode({0x00, 0x01, 0x12, 0x34, 0x08, 0x00, 0xBE, 0xEF});
const std::string kHeader2 = ToNode({0x10, 0x01, 0x12, 0x34, 0x00, 0x0A, 0xBE, 0xEF});
const std::string kProgramFrame = ToNode({0x30});

std::vector<Case> SimpleCases(const Transport& t) {
    const Request readCode{CCB_CMD_READ_CODE, {9, 1, 2, 3, 4, 5, 6, 7}};
    const std::string readFrame = ToNode({0x60, 1, 2, 3, 4, 5, 6, 7});
    const std::string wait = IdEvent("wait", 0x192, 20);
    std::vector<Case> cases = {
        {.name = "Abort", .request = {CCB_CMD_ABORT}, .expected = {ToNode({0xFF})}},
        {.name = "WriteEnable",
         .request = {CCB_CMD_WRITE_ENABLE},
         .expected = {ToNode({0xAA, 0x55})}},
        {.name = "JumpToApp",
         .request = {CCB_CMD_JUMP_TO_APP},
         .expected = Join({Pause(t.beforeJumpMs), {ToNode({0x80})}})},
        {.name = "Validate", .request = {CCB_CMD_VALIDATE, {9}}, .expected = {ToNode({0x40})}},
        {.name = "InitExtInfo",
         .request = {CCB_CMD_INIT_EXT_INFO, Bytes(16, 7)},
         .expected = {ToNode({0xC0})}},
        // All eight bytes of the data area go out, whatever the declared length.
        {.name = "SendData",
         .request = {CCB_CMD_SEND_DATA, {1, 2, 3, 4, 5, 6, 7, 8}, 3},
         .expected = {ToNode({1, 2, 3, 4, 5, 6, 7, 8})}},
        {.name = "SelectVariant1", .request = kVariant1, .expected = {"nmt 80 00"}},
        {.name = "Finalize", .request = {CCB_CMD_FINALIZE}, .expected = {"nmt 01 00"}},
        {.name = "FinalizeClearsTheBases",
         .setup = {kConfigure, {CCB_CMD_FINALIZE}},
         .request = {CCB_CMD_GET_INFO},
         .expected = {FrameEvent(0x12, {0x70}), IdEvent("wait", 0x12, 20)},
         .status = 101},
        {.name = "FinalizeClearsTheVariant",
         .setup = {kVariant1, {CCB_CMD_FINALIZE}},
         .request = kBootInit,
         .status = 104},
        {.name = "ConfigureSetsNodeTimeoutAndBases",
         .setup = {{CCB_CMD_CONFIGURE, Params(1000, 0x25, 0x580, 0x600)}},
         .request = {CCB_CMD_GET_INFO},
         .answers = {kAnswer},
         .expected = {FrameEvent(0x625, {0x70}), IdEvent("wait", 0x5A5, 1000)},
         .data = kAnswerData},
        {.name = "BeforeConfigureNode7FWaiting2s",
         .setup = {},
         .request = {CCB_CMD_GET_INFO},
         .expected = {FrameEvent(0x7F, {0x70}), IdEvent("wait", 0x7F, 2000)},
         .status = 101},
        {.name = "ReadCode",
         .request = readCode,
         .answers = {kAnswer},
         .expected = {readFrame, wait},
         .data = kAnswerData},
        {.name = "GetInfo",
         .request = {CCB_CMD_GET_INFO},
         .answers = {kAnswer},
         .expected = {ToNode({0x70}), wait},
         .data = kAnswerData},
        {.name = "GetStatus",
         .request = {CCB_CMD_GET_STATUS},
         .answers = {kAnswer},
         .expected = Poll(t),
         .data = kAnswerData},
    };
    for (uint32_t code : {0u, 199u, 211u, 214u, 216u, 219u})
        cases.push_back(
            {.name = "Code" + std::to_string(code), .request = {code, Params()}, .status = 0});
    return cases;
}

std::vector<Case> BootInitCases(const Transport& t) {
    const Log variant2Init =
        Join({{"nmt 80 00", "nmt 96 12", "sleep 4000", ToNode({0xFF}), ToNode({0xFF})},
              Poll(t),
              {kInit2, "sleep 1000"},
              Poll(t)});
    return {
        // The refusal leaves no variant, and the parameters as they were.
        {.name = "BootInitWithoutVariantKeepsNone",
         .setup = {kConfigure, kBootInit},
         .request = kBlock,
         .status = 104},
        {.name = "BootInitWithoutVariantKeepsTheNode",
         .setup = {kConfigure, {CCB_CMD_BOOT_INIT, Params(30, 0x30)}},
         .request = {CCB_CMD_ABORT},
         .expected = {ToNode({0xFF})}},
        // The refusal does not stick.
        {.name = "BootInitVariant1AfterRefusal",
         .setup = {kBootInit, kVariant1},
         .request = kBootInit,
         .expected = {"nmt 96 12", "sleep 2000", ToNode({0xFF}), "drain 192 20", kInit1}},
        {.name = "BootInitVariant2",
         .setup = {kVariant2},
         .request = kBootInit,
         .answers = {kBusy1, kAnswer},
         .expected = variant2Init,
         .data = kAnswerData},
        // The first poll's answer stays in the reply when the last one gets none.
        {.name = "BootInitVariant2LastPollSilent",
         .setup = {kVariant2},
         .request = kBootInit,
         .answers = {kAnswer},
         .expected = variant2Init,
         .status = 101,
         .data = kAnswerData},
    };
}

std::vector<Case> WriteCases(const Transport& t) {
    const Log header2 = Join({{kHeader2}, Poll(t)});
    const Log busyRepoll = Join({{"sleep 200"}, Poll(t)});
    const Log fullHeader =
        Join({{ToNode({0x10, 0x01, 0x34, 0x12, 0x00, 0x08, 0xEF, 0xBE})}, Poll(t), {"sleep 300"}});
    const uint32_t gap1 = t.variant1SegmentGapMs;
    return {
        {.name = "WriteWithoutVariant", .request = kBlock, .expected = {}, .status = 104},
        {.name = "WriteVariant1Full",
         .setup = {kConfigure, kVariant1},
         .request = kFullBlock,
         .answers = {kIdle},
         .expected = Join({fullHeader, Segments(t, 2048, gap1)}),
         .data = kIdleData},
        {.name = "WriteVariant1StopsAtAFailedSegment",
         .setup = {kConfigure, kVariant1},
         .request = kFullBlock,
         .answers = {kIdle},
         .expected = Join({fullHeader, Segments(t, 2048, gap1, 2, true)}),
         .data = kIdleData,
         .failSendsFrom = 5},
        // A poll without an answer leaves the node as busy as it last said.
        {.name = "WriteVariant2WaitsWhileBusy",
         .setup = {kConfigure, kVariant2},
         .request = kBlock,
         .answers = {kBusy1, std::nullopt, kBusy2, kIdle},
         .expected = Join({header2, Join({busyRepoll}, 3), Segments(t, 10, 1)}),
         .data = kIdleData},
        {.name = "WriteVariant2BusyAtMost25Retries",
         .setup = {kConfigure, kVariant2},
         .request = kBlock,
         .answers = Answers(30, kBusy1),
         .expected = Join({header2, Join({busyRepoll}, 25), Segments(t, 10, 1)}),
         .data = kBusyData},
        {.name = "WriteVariant2KeepsSendingFailedSegments",
         .setup = {kConfigure, kVariant2},
         .request = kBlock,
         .answers = {kIdle},
         .expected = Join({header2, Segments(t, 10, 1, 0)}),
         .data = kIdleData,
         .failSendsFrom = 3},
        {.name = "WriteVariant2RefusesTheSameAddress",
         .setup = {kConfigure, kVariant2, kBlock},
         .request = kBlock,
         .answers = {kIdle},
         .status = 102},
        {.name = "WriteVariant2TakesAnotherAddress",
         .setup = {kConfigure, kVariant2, kBlock},
         .request = {CCB_CMD_WRITE_SUBBLOCK, Subblock(0x1A34, 10)},
         .answers = {kIdle, kIdle},
         .expected = Join({{ToNode({0x10, 0x01, 0x1A, 0x34, 0x00, 0x0A, 0xBE, 0xEF})},
                           Poll(t),
                           Segments(t, 10, 1)}),
         .data = kIdleData},
        {.name = "WriteVariant2BootInitForgetsTheAddress",
         .setup = {kConfigure, kVariant2, kBlock, kBootInit},
         .request = kBlock,
         .answers = Answers(4, kIdle),
         .expected = Join({header2, Segments(t, 10, 1)}),
         .data = kIdleData},
    };
}

std::vector<Case> ProgramCases(const Transport& t) {
    const Log repoll = Join({{"sleep 100"}, Poll(t)});
    // The route polls again at once after a miss and stops at the next answer; the card
    // judges the last answer it got, none yet, so not busy.
    const Log afterMiss = t.repollsMisses ? Join({Poll(t), Poll(t)}) : Poll(t);
    // The route counts 50 polls in all, the card 50 after the first.
    const Log busy = t.repollsMisses ? Join({Join({Poll(t), {"sleep 100"}}, 50)})
                                     : Join({Poll(t), Join({repoll}, 50)});
    const Log silent = t.repollsMisses ? Join({Poll(t)}, 50) : Poll(t);
    return {
        {.name = "ProgramWithoutVariant", .request = kProgram, .expected = {kProgramFrame}},
        {.name = "ProgramVariant1DoesNotPoll",
         .setup = {kConfigure, kVariant1},
         .request = kProgram,
         .answers = {kBusy1},
         .expected = {kProgramFrame}},
        {.name = "ProgramVariant2BusyThenIdle",
         .setup = {kConfigure, kVariant2},
         .request = kProgram,
         .answers = {kBusy1, kBusy2, kIdle},
         .expected = Join({{kProgramFrame}, Poll(t), repoll, repoll}),
         .data = kIdleData},
        {.name = "ProgramVariant2AnswerAfterAMiss",
         .setup = {kConfigure, kVariant2},
         .request = kProgram,
         .answers = {std::nullopt, kBusy1},
         .expected = Join({{kProgramFrame}, afterMiss}),
         .status = t.repollsMisses ? 100u : 101u,
         .data = t.repollsMisses ? kBusyData : Bytes{}},
        {.name = "ProgramVariant2BusyAtMost",
         .setup = {kConfigure, kVariant2},
         .request = kProgram,
         .answers = Answers(60, kBusy1),
         .expected = Join({{kProgramFrame}, busy}),
         .data = kBusyData},
        {.name = "ProgramVariant2Silent",
         .setup = {kConfigure, kVariant2},
         .request = kProgram,
         .expected = Join({{kProgramFrame}, silent}),
         .status = 101},
    };
}

std::vector<Case> AllCases() {
    std::vector<Case> all;
    for (const Transport* t : {&kRoute, &kCard}) {
        for (auto group : {SimpleCases, BootInitCases, WriteCases, ProgramCases}) {
            for (Case c : group(*t)) {
                c.name += "_" + t->name;
                c.policy = &t->policy;
                all.push_back(std::move(c));
            }
        }
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
    orv::test::LoggingClock clock(log);
    RecordingBus bus(log);
    bus.answers = c.answers;
    BootCommandExecutor executor(bus, *c.policy);
    CCcbMessage reply;
    for (const Request& step : c.setup)
        Exchange(executor, step, reply);
    log.clear();
    bus.failFrom = c.failSendsFrom;
    Exchange(executor, c.request, reply);
    EXPECT_EQ(reply.status, c.status);
    EXPECT_EQ(Bytes(reply.data, reply.data + reply.dataLength), c.data);
    EXPECT_EQ(reply.length, CCcbMessage::kHeaderSize + reply.dataLength);
    EXPECT_EQ(log, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Commands, Executor, testing::ValuesIn(AllCases()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
