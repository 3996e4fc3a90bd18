// Each gateway command as the Ethernet-to-CAN transport carries it out: the whole sequence of
// NMT commands, frames and pauses, and the reply.
#include <gtest/gtest.h>

#include <cstring>

#include "E2CScriptedEngine.h"
#include "transport/E2CCommAdapter.h"
#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace {

using orv::test::Bytes8;
using orv::test::EventLog;
using orv::test::FrameEvent;
using orv::test::LoggingClock;
using orv::test::ScriptedEngine;
using Reply = ScriptedEngine::Reply;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t kNode = 0x12;
constexpr uint16_t kToNode = 0x200 | kNode;
constexpr uint32_t kReplyTimeoutMs = 20;

template <typename Record>
Bytes BytesOf(const Record& record) {
    Bytes bytes(sizeof record);
    std::memcpy(bytes.data(), &record, sizeof record);
    return bytes;
}

Bytes Params(uint32_t replyTimeoutMs = kReplyTimeoutMs, uint8_t node = kNode,
             uint16_t requestBase = 0x200) {
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
Bytes ParamsWithShortPolls(uint32_t pollMs) {
    return Params(pollMs - 10000u);
}

Bytes SubblockData(uint16_t length) {
    Bytes data(length);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i * 7 + 3);
    }
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
    return FrameEvent(kToNode, data);
}

// The segment frames of a sub-block's data, each followed by its 1 ms pause; from failFrom on
// (0-based) segments fail, and stopAtFailure ends the list at the first failed one.
EventLog Segments(uint16_t length, int failFrom = -1, bool stopAtFailure = false) {
    const Bytes data = SubblockData(length);
    EventLog events;
    uint8_t toggle = 0;
    int index = 0;
    for (size_t sent = 0; sent < data.size(); ++index) {
        const size_t n = std::min<size_t>(data.size() - sent, 7);
        Bytes8 frame{static_cast<uint8_t>(0x20 | toggle | n)};
        std::copy_n(data.begin() + static_cast<long>(sent), n, frame.begin() + 1);
        const bool failed = failFrom >= 0 && index >= failFrom;
        events.push_back(ToNode(frame) + (failed ? " failed" : ""));
        if (failed && stopAtFailure) {
            break;
        }
        events.push_back("sleep 1");
        sent += n;
        toggle ^= 0x08;
    }
    return events;
}

EventLog Join(std::initializer_list<EventLog> parts) {
    EventLog all;
    for (const EventLog& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

EventLog Repeat(const EventLog& part, int times) {
    EventLog all;
    for (int i = 0; i < times; ++i) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

struct Request {
    uint32_t command;
    Bytes payload;
};

struct Answer {
    uint8_t trigger;
    std::vector<Reply> replies;  // empty: the node stays silent that time
};

std::vector<Answer> RepeatAnswer(const Answer& answer, int times) {
    return std::vector<Answer>(static_cast<size_t>(times), answer);
}

struct TransactCase {
    std::string name;
    std::vector<Request> setup;
    Request request;
    std::vector<Answer> script;  // consumed by the setup first, then by the request
    EventLog expected;           // the request's events only
    uint32_t status;
    Bytes data;
    int failSendsFrom = 0;  // 1 = the request's first frame
};

const Bytes8 kIdle{0x00, 0x00, 0x5A};
const Bytes8 kBusy1{0x00, 0x01};
const Bytes8 kBusy2{0x00, 0x02};
const Bytes8 kAnswer{0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8};
const Bytes kIdleData(kIdle.begin(), kIdle.end());
const Bytes kAnswerData(kAnswer.begin(), kAnswer.end());
const Request kConfigure{CCB_CMD_CONFIGURE, Params()};
const Answer kPollIdle{0x50, {{kIdle}}};
const Answer kPollBusy{0x50, {{kBusy1}}};
const Answer kPollSilent{0x50, {}};

std::vector<TransactCase> SimpleCommands() {
    return {
        {"Abort", {kConfigure}, {CCB_CMD_ABORT, {}}, {}, {ToNode({0xFF})}, 100, {}},
        {"WriteEnable",
         {kConfigure},
         {CCB_CMD_WRITE_ENABLE, {}},
         {},
         {ToNode({0xAA, 0x55})},
         100,
         {}},
        {"JumpToApp", {kConfigure}, {CCB_CMD_JUMP_TO_APP, {}}, {}, {ToNode({0x80})}, 100, {}},
        {"Validate", {kConfigure}, {CCB_CMD_VALIDATE, {}}, {}, {ToNode({0x40})}, 100, {}},
        {"InitExtInfo",
         {kConfigure},
         {CCB_CMD_INIT_EXT_INFO, Bytes(16, 0x77)},
         {},
         {ToNode({0xC0})},
         100,
         {}},
        {"SendData",
         {kConfigure},
         {CCB_CMD_SEND_DATA, {1, 2, 3}},
         {},
         {ToNode({1, 2, 3})},
         100,
         {}},
        {"SelectVariant1", {}, {CCB_CMD_SELECT_VARIANT_1, {}}, {}, {"nmt 80 00"}, 100, {}},
        {"SelectVariant2", {}, {CCB_CMD_SELECT_VARIANT_2, Params()}, {}, {"nmt 80 00"}, 100, {}},
        {"Finalize", {kConfigure}, {CCB_CMD_FINALIZE, {}}, {}, {"nmt 01 00"}, 100, {}},
        {"FinalizeClearsTheBases",
         {kConfigure, {CCB_CMD_FINALIZE, {}}},
         {CCB_CMD_ABORT, {}},
         {},
         {FrameEvent(kNode, {0xFF})},
         100,
         {}},
        {"FinalizeClearsTheVariant",
         {{CCB_CMD_SELECT_VARIANT_1, {}}, {CCB_CMD_FINALIZE, {}}},
         {CCB_CMD_BOOT_INIT, Params()},
         {},
         {},
         104,
         {}},
        {"ConfigureSendsNothing", {}, {CCB_CMD_CONFIGURE, Params()}, {}, {}, 100, {}},
        {"ConfigureSetsNodeAndBase",
         {{CCB_CMD_CONFIGURE, Params(20, 0x21, 0x600)}},
         {CCB_CMD_ABORT, {}},
         {},
         {FrameEvent(0x621, {0xFF})},
         100,
         {}},
        {"BeforeConfigureNode7F", {}, {CCB_CMD_ABORT, {}}, {}, {FrameEvent(0x7F, {0xFF})}, 100, {}},
    };
}

std::vector<TransactCase> CommandsWithAnswers() {
    return {
        {"ReadCode",
         {kConfigure},
         {CCB_CMD_READ_CODE, {9, 1, 2, 3, 4, 5, 6, 7}},
         {{0x60, {{kAnswer}}}},
         {ToNode({0x60, 1, 2, 3, 4, 5, 6, 7})},
         100,
         kAnswerData},
        {"ReadCodeSilent",
         {kConfigure},
         {CCB_CMD_READ_CODE, {9, 1, 2, 3, 4, 5, 6, 7}},
         {},
         {ToNode({0x60, 1, 2, 3, 4, 5, 6, 7})},
         101,
         {}},
        {"ReadCodeDropsOtherNodes",
         {kConfigure},
         {CCB_CMD_READ_CODE, Bytes(8)},
         {{0x60, {{kIdle, 0x193}, {kAnswer}}}},
         {ToNode({0x60})},
         100,
         kAnswerData},
        {"GetInfo",
         {kConfigure},
         {CCB_CMD_GET_INFO, {}},
         {{0x70, {{kAnswer}}}},
         {ToNode({0x70})},
         100,
         kAnswerData},
        {"GetInfoSilent", {kConfigure}, {CCB_CMD_GET_INFO, {}}, {}, {ToNode({0x70})}, 101, {}},
        {"GetStatus",
         {kConfigure},
         {CCB_CMD_GET_STATUS, {}},
         {{0x50, {{kAnswer}}}},
         {ToNode({0x50})},
         100,
         kAnswerData},
        {"GetStatusSilent",
         {{CCB_CMD_CONFIGURE, ParamsWithShortPolls(5)}},
         {CCB_CMD_GET_STATUS, {}},
         {},
         {ToNode({0x50})},
         101,
         {}},
        {"GetStatusDropsWhatCameBefore",
         {kConfigure, {CCB_CMD_JUMP_TO_APP, {}}},
         {CCB_CMD_GET_STATUS, {}},
         {{0x80, {{kIdle}}}, {0x50, {{kAnswer}}}},
         {ToNode({0x50})},
         100,
         kAnswerData},
    };
}

std::vector<TransactCase> BootInit() {
    const std::string initArgs1 = ToNode({0x00, 0x01, 0x34, 0x12, 0x00, 0x08, 0xEF, 0xBE});
    const std::string initArgs2 = ToNode({0x00, 0x01, 0x12, 0x34, 0x08, 0x00, 0xBE, 0xEF});
    const EventLog variant2 = {"nmt 80 00",    "nmt 96 12",    "sleep 4000",
                               ToNode({0xFF}), ToNode({0xFF}), ToNode({0x50}),
                               initArgs2,      "sleep 1000",   ToNode({0x50})};
    return {
        {"WithoutVariant", {kConfigure}, {CCB_CMD_BOOT_INIT, Params()}, {}, {}, 104, {}},
        {"WithoutVariantTwice",
         {{CCB_CMD_BOOT_INIT, Params()}},
         {CCB_CMD_BOOT_INIT, Params()},
         {},
         {},
         104,
         {}},
        {"Variant1AfterRefusal",
         {{CCB_CMD_BOOT_INIT, Params()}, {CCB_CMD_SELECT_VARIANT_1, {}}},
         {CCB_CMD_BOOT_INIT, Params()},
         {},
         {"nmt 96 12", "sleep 2000", ToNode({0xFF}), initArgs1},
         100,
         {}},
        {"Variant1ReadsAwayEveryAnswer",
         {{CCB_CMD_SELECT_VARIANT_1, {}}},
         {CCB_CMD_BOOT_INIT, Params()},
         {{0xFF, {{kAnswer}, {kIdle}, {kBusy1}}}},
         {"nmt 96 12", "sleep 2000", ToNode({0xFF}), initArgs1},
         100,
         {}},
        {"Variant2",
         {{CCB_CMD_SELECT_VARIANT_2, {}}},
         {CCB_CMD_BOOT_INIT, Params()},
         {kPollBusy, {0x50, {{kAnswer}}}},
         variant2,
         100,
         kAnswerData},
        // The first poll's answer stays in the reply when the last one gets none.
        {"Variant2LastPollSilent",
         {{CCB_CMD_SELECT_VARIANT_2, {}}},
         {CCB_CMD_BOOT_INIT, ParamsWithShortPolls(5)},
         {{0x50, {{kAnswer}}}},
         variant2,
         101,
         kAnswerData},
    };
}

std::vector<TransactCase> WriteSubblock() {
    const Request block1234{CCB_CMD_WRITE_SUBBLOCK, Subblock(0x1234, 10)};
    const std::string header1 = ToNode({0x10, 0x01, 0x34, 0x12, 0x00, 0x08, 0xEF, 0xBE});
    const std::string header2 = ToNode({0x10, 0x01, 0x12, 0x34, 0x00, 0x0A, 0xBE, 0xEF});
    const Request variant2{CCB_CMD_SELECT_VARIANT_2, {}};
    return {
        {"WithoutVariant", {kConfigure}, block1234, {}, {}, 104, {}},
        {"Variant1FullSubblock",
         {kConfigure, {CCB_CMD_SELECT_VARIANT_1, {}}},
         {CCB_CMD_WRITE_SUBBLOCK, Subblock(0x1234, 2048)},
         {kPollIdle},
         Join({{header1, ToNode({0x50}), "sleep 300"}, Segments(2048)}),
         100,
         kIdleData},
        {"Variant1StopsAtAFailedSegment",
         {kConfigure, {CCB_CMD_SELECT_VARIANT_1, {}}},
         {CCB_CMD_WRITE_SUBBLOCK, Subblock(0x1234, 2048)},
         {kPollIdle},
         Join({{header1, ToNode({0x50}), "sleep 300"}, Segments(2048, 2, true)}),
         100,
         kIdleData,
         5},
        {"Variant1PollSilent",
         {{CCB_CMD_CONFIGURE, ParamsWithShortPolls(5)}, {CCB_CMD_SELECT_VARIANT_1, {}}},
         {CCB_CMD_WRITE_SUBBLOCK, Subblock(0x1234, 2048)},
         {},
         Join({{header1, ToNode({0x50}), "sleep 300"}, Segments(2048)}),
         101,
         {}},
        {"Variant2WaitsWhileBusy",
         {kConfigure, variant2},
         block1234,
         {kPollBusy, {0x50, {{kBusy2}}}, kPollIdle},
         Join({{header2, ToNode({0x50}), "sleep 200", ToNode({0x50}), "sleep 200", ToNode({0x50})},
               Segments(10)}),
         100,
         kIdleData},
        {"Variant2BusyAtMost25Retries",
         {kConfigure, variant2},
         block1234,
         RepeatAnswer(kPollBusy, 30),
         Join({{header2, ToNode({0x50})}, Repeat({"sleep 200", ToNode({0x50})}, 25), Segments(10)}),
         100,
         Bytes(kBusy1.begin(), kBusy1.end())},
        {"Variant2KeepsSendingFailedSegments",
         {kConfigure, variant2},
         block1234,
         {kPollIdle},
         Join({{header2, ToNode({0x50})}, Segments(10, 0)}),
         100,
         kIdleData,
         3},
        {"Variant2RefusesTheSameAddress",
         {kConfigure, variant2, block1234},
         block1234,
         {kPollIdle},
         {},
         102,
         {}},
        {"Variant2TakesAnotherAddress",
         {kConfigure, variant2, block1234},
         {CCB_CMD_WRITE_SUBBLOCK, Subblock(0x1A34, 10)},
         {kPollIdle, kPollIdle},
         Join({{ToNode({0x10, 0x01, 0x1A, 0x34, 0x00, 0x0A, 0xBE, 0xEF}), ToNode({0x50})},
               Segments(10)}),
         100,
         kIdleData},
        {"Variant2BootInitForgetsTheAddress",
         {kConfigure, variant2, block1234, {CCB_CMD_BOOT_INIT, Params()}},
         block1234,
         {kPollIdle, kPollIdle, kPollIdle, kPollIdle},
         Join({{header2, ToNode({0x50})}, Segments(10)}),
         100,
         kIdleData},
    };
}

std::vector<TransactCase> ProgramSubblock() {
    const Request variant2{CCB_CMD_SELECT_VARIANT_2, {}};
    const Request shortPolls{CCB_CMD_CONFIGURE, ParamsWithShortPolls(2)};
    return {
        {"WithoutVariant",
         {kConfigure},
         {CCB_CMD_PROGRAM_SUBBLOCK, {}},
         {},
         {ToNode({0x30})},
         100,
         {}},
        {"Variant1DoesNotPoll",
         {kConfigure, {CCB_CMD_SELECT_VARIANT_1, {}}},
         {CCB_CMD_PROGRAM_SUBBLOCK, {}},
         {kPollBusy},
         {ToNode({0x30})},
         100,
         {}},
        {"Variant2IdleAtOnce",
         {kConfigure, variant2},
         {CCB_CMD_PROGRAM_SUBBLOCK, {}},
         {kPollIdle},
         {ToNode({0x30}), ToNode({0x50})},
         100,
         kIdleData},
        {"Variant2BusyThenIdle",
         {kConfigure, variant2},
         {CCB_CMD_PROGRAM_SUBBLOCK, {}},
         {kPollBusy, {0x50, {{kBusy2}}}, kPollIdle},
         {ToNode({0x30}), ToNode({0x50}), "sleep 100", ToNode({0x50}), "sleep 100", ToNode({0x50})},
         100,
         kIdleData},
        {"Variant2AnswerAfterAMissEnds",
         {shortPolls, variant2},
         {CCB_CMD_PROGRAM_SUBBLOCK, {}},
         {kPollSilent, kPollBusy},
         {ToNode({0x30}), ToNode({0x50}), ToNode({0x50})},
         100,
         Bytes(kBusy1.begin(), kBusy1.end())},
        {"Variant2BusyAtMost50Polls",
         {kConfigure, variant2},
         {CCB_CMD_PROGRAM_SUBBLOCK, {}},
         RepeatAnswer(kPollBusy, 60),
         Join({{ToNode({0x30})}, Repeat({ToNode({0x50}), "sleep 100"}, 50)}),
         100,
         Bytes(kBusy1.begin(), kBusy1.end())},
        {"Variant2SilentAtMost50Polls",
         {shortPolls, variant2},
         {CCB_CMD_PROGRAM_SUBBLOCK, {}},
         {},
         Join({{ToNode({0x30})}, Repeat({ToNode({0x50})}, 50)}),
         101,
         {}},
    };
}

std::vector<TransactCase> NotCarriedOut() {
    std::vector<TransactCase> cases;
    for (uint32_t code : {0u, 100u, 108u, 109u, 199u, 211u, 214u, 216u, 219u, 300u}) {
        cases.push_back(
            {"Code" + std::to_string(code), {kConfigure}, {code, Params()}, {}, {}, 0, {}});
    }
    return cases;
}

class E2CTransact : public testing::TestWithParam<TransactCase> {};

void Exchange(CE2CCommAdapter& adapter, const Request& step, CCcbMessage& reply) {
    CCcbMessage request;
    request.SetAll(static_cast<uint32_t>(step.payload.size()), step.payload.data(), step.command,
                   0);
    reply.status = 0xFFFFFFFF;
    EXPECT_EQ(adapter.Transact(&request, &reply, 24, 20000), 0);
    EXPECT_EQ(reply.command, step.command);
}

TEST_P(E2CTransact, CarriesOutTheWholeSequence) {
    const TransactCase& c = GetParam();
    EventLog log;
    LoggingClock clock(log);
    auto owned = std::make_unique<ScriptedEngine>(log);
    ScriptedEngine& engine = *owned;
    CE2CCommAdapter adapter(std::move(owned));
    for (const Answer& answer : c.script) {
        engine.On(answer.trigger, answer.replies);
    }
    CCcbMessage reply;
    for (const Request& step : c.setup) {
        Exchange(adapter, step, reply);
    }
    log.clear();
    if (c.failSendsFrom > 0) {
        engine.FailSendsFrom(engine.Sends() + c.failSendsFrom);
    }
    Exchange(adapter, c.request, reply);
    EXPECT_EQ(reply.status, c.status);
    EXPECT_EQ(Bytes(reply.data, reply.data + reply.dataLength), c.data);
    EXPECT_EQ(reply.length, CCcbMessage::kHeaderSize + reply.dataLength);
    EXPECT_EQ(log, c.expected);
}

std::string CaseName(const testing::TestParamInfo<TransactCase>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Simple, E2CTransact, testing::ValuesIn(SimpleCommands()), CaseName);
INSTANTIATE_TEST_SUITE_P(Answered, E2CTransact, testing::ValuesIn(CommandsWithAnswers()), CaseName);
INSTANTIATE_TEST_SUITE_P(BootInit, E2CTransact, testing::ValuesIn(BootInit()), CaseName);
INSTANTIATE_TEST_SUITE_P(WriteSubblock, E2CTransact, testing::ValuesIn(WriteSubblock()), CaseName);
INSTANTIATE_TEST_SUITE_P(ProgramSubblock, E2CTransact, testing::ValuesIn(ProgramSubblock()),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(NotCarriedOut, E2CTransact, testing::ValuesIn(NotCarriedOut()), CaseName);

// The segment layout pinned independently of the helper that builds expected sequences.
TEST(E2CTransactSegments, FullSubblockIs293SegmentsWithAlternatingToggle) {
    EventLog log;
    LoggingClock clock(log);
    auto owned = std::make_unique<ScriptedEngine>(log);
    owned->On(0x50, {{kIdle}});
    CE2CCommAdapter adapter(std::move(owned));
    CCcbMessage reply;
    Exchange(adapter, kConfigure, reply);
    Exchange(adapter, {CCB_CMD_SELECT_VARIANT_1, {}}, reply);
    log.clear();
    Exchange(adapter, {CCB_CMD_WRITE_SUBBLOCK, Subblock(0x1234, 2048)}, reply);

    std::vector<std::string> segments;
    for (const std::string& event : log) {
        if (event.rfind("frame 212 2", 0) == 0) {
            segments.push_back(event);
        }
    }
    ASSERT_EQ(segments.size(), 293u);
    EXPECT_EQ(segments[0], "frame 212 27 03 0a 11 18 1f 26 2d");
    EXPECT_EQ(segments[1].substr(0, 12), "frame 212 2f");
    EXPECT_EQ(segments[2].substr(0, 12), "frame 212 27");
    // 2048 = 292 x 7 + 4: the last carries 4 bytes, and after 292 changes its toggle is clear.
    EXPECT_EQ(segments[292].substr(0, 12), "frame 212 24");
    EXPECT_EQ(clock.Sleeps().size(), 1u + 293u);
}

}  // namespace
