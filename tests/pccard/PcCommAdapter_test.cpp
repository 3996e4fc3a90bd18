#include "pccard/PcCommAdapter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "FakeLibraryOpener.h"
#include "platform/Clock.h"
#include "platform/Console.h"
#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace {

using Log = std::vector<std::string>;

std::string Hex(const uint8_t* bytes, int count) {
    std::string text;
    char cell[4];
    for (int i = 0; i < count; ++i) {
        std::snprintf(cell, sizeof cell, " %02x", bytes[i]);
        text += cell;
    }
    return text;
}

// Writes every pause into the same log as the card's writes and reads, so that a test sees
// one sequence.
class LogClock : public orv::IClock {
  public:
    explicit LogClock(Log& log) : log_(log) { orv::SetClock(this); }
    ~LogClock() override { orv::SetClock(nullptr); }
    void SleepMs(uint32_t ms) override {
        log_.push_back("sleep " + std::to_string(ms));
        now_ += ms;
    }
    uint64_t NowMs() override { return now_; }

  private:
    Log& log_;
    uint64_t now_ = 0;
};

// What the card does at the next Read: hand out a frame or answer with a result code.
struct ReadStep {
    int result = 0;
    CanCardFrame frame;
};

ReadStep Frame(uint32_t id, std::vector<uint8_t> data) {
    ReadStep step;
    step.frame.id = id;
    step.frame.length = static_cast<uint32_t>(data.size());
    std::copy(data.begin(), data.end(), step.frame.data);
    return step;
}
ReadStep Result(int result) {
    return ReadStep{result, {}};
}

class FakeCard : public CCanCard {
  public:
    explicit FakeCard(Log& log) : log_(log) {}
    ~FakeCard() override { log_.push_back("card destroyed"); }

    int Open() override {
        log_.push_back("open");
        return openResult;
    }
    int Close() override {
        log_.push_back("close");
        return closeResult;
    }
    int Write(uint16_t id, const uint8_t* data, int length) override {
        char head[16];
        std::snprintf(head, sizeof head, "write %03x", id);
        log_.push_back(head + Hex(data, length));
        ++writes;
        return writes >= failWritesFrom ? CARD_ERR_TIMEOUT : 0;
    }
    int Reset() override {
        log_.push_back("reset");
        return 0;
    }
    int Read(CanCardFrame* frame, uint32_t timeoutMs) override {
        log_.push_back("read " + std::to_string(timeoutMs));
        if (reads.empty()) {
            return CARD_ERR_TIMEOUT;
        }
        const ReadStep step = reads.front();
        reads.pop_front();
        *frame = step.frame;
        return step.result;
    }

    std::deque<ReadStep> reads;
    int openResult = 0;
    int closeResult = 0;
    int writes = 0;
    int failWritesFrom = 1 << 30;

  private:
    Log& log_;
};

std::vector<uint8_t> BootParams(uint8_t node, uint32_t timeoutMs, uint16_t replyBase = 0x180,
                                uint16_t requestBase = 0x200) {
    BootInitParams params;
    params.nodeId = node;
    params.page = 0x01;
    params.startAddress = 0x1234;
    params.length = 0x0800;
    params.checksum = 0xBEEF;
    params.replyTimeoutMs = timeoutMs;
    params.replyBase = replyBase;
    params.requestBase = requestBase;
    const auto* bytes = reinterpret_cast<const uint8_t*>(&params);
    return {bytes, bytes + sizeof params};
}

std::vector<uint8_t> Subblock(uint16_t address, uint16_t length) {
    SubblockDescriptor descriptor;
    descriptor.page = 0x02;
    descriptor.address = address;
    descriptor.length = length;
    descriptor.checksum = 0xA1B2;
    const auto* bytes = reinterpret_cast<const uint8_t*>(&descriptor);
    std::vector<uint8_t> payload(bytes, bytes + sizeof descriptor);
    for (int i = 0; i < length; ++i) {
        payload.push_back(static_cast<uint8_t>(i));
    }
    return payload;
}

Log Repeat(const std::string& entry, int times) {
    return Log(static_cast<size_t>(times), entry);
}

Log Join(std::initializer_list<Log> parts) {
    Log all;
    for (const Log& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

const std::string kPollRequest = "write 212 50 00 00 00 00 00 00 00";
const std::vector<uint8_t> kAnswer = {0x11, 0x00, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};

class PcCommAdapterTest : public ::testing::Test {
  protected:
    uint32_t Run(uint32_t command, const std::vector<uint8_t>& payload = {}) {
        request.SetAll(static_cast<uint32_t>(payload.size()), payload.data(), command, 0);
        reply.status = 0xFFFFFFFF;
        EXPECT_EQ(adapter.Transact(&request, &reply, 24, 20000), 0);
        EXPECT_EQ(reply.command, command);
        return reply.status;
    }
    // Node 0x12, replies 0x192, requests 0x212, the protocol's 500 ms per reply frame.
    void Configure(uint32_t timeoutMs = 500) {
        Run(CCB_CMD_CONFIGURE, BootParams(0x12, timeoutMs));
        log.clear();
    }
    void SelectVariant(uint32_t command) {
        Run(command);
        log.clear();
    }
    std::vector<uint8_t> ReplyData() const { return {reply.data, reply.data + reply.dataLength}; }

    Log log;
    LogClock clock{log};
    FakeCard* card = new FakeCard(log);
    CPcCommAdapter adapter{card};
    CCcbMessage request;
    CCcbMessage reply;
};

TEST_F(PcCommAdapterTest, CommandsWithoutAnswerSendOneFrameToTheNode) {
    struct Case {
        uint32_t command;
        std::vector<uint8_t> payload;
        Log expected;
    };
    const Case cases[] = {
        {CCB_CMD_ABORT, {}, {"write 212 ff 00 00 00 00 00 00 00"}},
        {CCB_CMD_WRITE_ENABLE, {}, {"write 212 aa 55 00 00 00 00 00 00"}},
        {CCB_CMD_JUMP_TO_APP, {}, {"sleep 50", "write 212 80 00 00 00 00 00 00 00"}},
        {CCB_CMD_VALIDATE, {9}, {"write 212 40 00 00 00 00 00 00 00"}},
        {CCB_CMD_PROGRAM_SUBBLOCK, {}, {"write 212 30 00 00 00 00 00 00 00"}},
        {CCB_CMD_INIT_EXT_INFO,
         std::vector<uint8_t>(16, 0xEE),
         {"write 212 c0 00 00 00 00 00 00 00"}},
        {CCB_CMD_SEND_DATA, {1, 2, 3, 4, 5, 6, 7, 8}, {"write 212 01 02 03 04 05 06 07 08"}},
        {CCB_CMD_SELECT_VARIANT_1, {}, {"write 000 80 00"}},
        {CCB_CMD_SELECT_VARIANT_2, {}, {"write 000 80 00"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        Configure();
        EXPECT_EQ(Run(c.command, c.payload), CCB_STATUS_OK);
        EXPECT_EQ(log, c.expected);
        EXPECT_EQ(reply.dataLength, 0u);
    }
}

TEST_F(PcCommAdapterTest, SendDataSendsWhatTheDataAreaHoldsBeyondAShortPayload) {
    Configure();
    request.SetAll(8, std::vector<uint8_t>{9, 9, 9, 9, 9, 9, 9, 9}.data(), CCB_CMD_SEND_DATA, 0);
    request.SetData(std::vector<uint8_t>{0x21, 0x22}.data(), 2);
    adapter.Transact(&request, &reply, 16, 20000);
    EXPECT_EQ(log, Log{"write 212 21 22 09 09 09 09 09 09"});
}

TEST_F(PcCommAdapterTest, ReservedAndUnknownCodesAnswerZeroAndSendNothing) {
    Configure();
    for (uint32_t command : {0u, 100u, 108u, 199u, 211u, 214u, 216u, 219u, 4000u}) {
        SCOPED_TRACE(command);
        EXPECT_EQ(Run(command, {1, 2, 3}), CCB_STATUS_NOT_EXECUTED);
    }
    EXPECT_TRUE(log.empty());
}

TEST_F(PcCommAdapterTest, AnsweringCommandsCarryTheNodesEightBytes) {
    struct Case {
        uint32_t command;
        std::vector<uint8_t> payload;
        Log expected;
    };
    const Case cases[] = {
        {CCB_CMD_READ_CODE,
         {0xEE, 0x01, 0x40, 0x00, 0x08, 0x00, 0x00, 0x00},
         {"write 212 60 01 40 00 08 00 00 00", "read 100"}},
        {CCB_CMD_GET_INFO, {}, {"write 212 70 00 00 00 00 00 00 00", "read 100"}},
        {CCB_CMD_GET_STATUS, {}, {kPollRequest, "sleep 300", "read 100"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        Configure();
        card->reads = {Frame(0x192, kAnswer)};
        EXPECT_EQ(Run(c.command, c.payload), CCB_STATUS_OK);
        EXPECT_EQ(log, c.expected);
        EXPECT_EQ(ReplyData(), kAnswer);
    }
}

TEST_F(PcCommAdapterTest, ASilentNodeFailsAfterFiveReadsOfAFifthOfTheReplyTimeout) {
    struct Case {
        const char* name;
        uint32_t replyTimeoutMs;  // 0: never configured
        const char* read;
    };
    const Case cases[] = {
        {"before any 200 or 218", 0, "read 400"},  // first: nothing configured yet
        {"protocol default", 500, "read 100"},
        {"below five", 4, "read 0"},
        {"not a multiple of five", 1999, "read 399"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.replyTimeoutMs != 0) {
            Configure(c.replyTimeoutMs);
        }
        for (uint32_t command : {CCB_CMD_READ_CODE, CCB_CMD_GET_INFO}) {
            log.clear();
            EXPECT_EQ(Run(command, std::vector<uint8_t>(8)), CCB_STATUS_NO_REPLY);
            EXPECT_EQ(Log(log.begin() + 1, log.end()), Repeat(c.read, 5));
            EXPECT_EQ(reply.dataLength, 0u);
        }
    }
}

TEST_F(PcCommAdapterTest, ForeignFramesNeitherCountNorEndAWait) {
    Configure();
    card->reads = {Frame(0x193, kAnswer), Result(CARD_ERR_TIMEOUT), Frame(0x000, {1, 0x12}),
                   Frame(0x212, kAnswer), Result(CARD_ERR_TIMEOUT), Result(CARD_ERR_TIMEOUT),
                   Frame(0x092, kAnswer), Result(CARD_ERR_TIMEOUT), Frame(0x192, kAnswer)};
    EXPECT_EQ(Run(CCB_CMD_GET_INFO), CCB_STATUS_OK);
    EXPECT_EQ(log.size(), 1u + 9u);
    EXPECT_EQ(ReplyData(), kAnswer);

    log.clear();
    card->reads = {Frame(0x193, kAnswer), Frame(0x194, kAnswer), Frame(0x195, kAnswer)};
    EXPECT_EQ(Run(CCB_CMD_GET_INFO), CCB_STATUS_NO_REPLY);
    EXPECT_EQ(log.size(), 1u + 3u + 5u);
}

TEST_F(PcCommAdapterTest, AReadErrorEndsTheWaitAtOnce) {
    Configure();
    for (int error : {int{CARD_ERR_DRIVER}, int{CARD_ERR_NO_LIBRARY}, -1074388991}) {
        log.clear();
        card->reads = {Result(error), Frame(0x192, kAnswer)};
        EXPECT_EQ(Run(CCB_CMD_GET_INFO), CCB_STATUS_NO_REPLY);
        EXPECT_EQ(log, (Log{"write 212 70 00 00 00 00 00 00 00", "read 100"}));
        card->reads.clear();
    }
}

TEST_F(PcCommAdapterTest, AShortReplyFrameFillsOnlyItsOwnBytes) {
    Configure();
    card->reads = {Frame(0x192, {0xA1, 0xA2, 0xA3})};
    EXPECT_EQ(Run(CCB_CMD_GET_INFO), CCB_STATUS_OK);
    EXPECT_EQ(ReplyData(), (std::vector<uint8_t>{0xA1, 0xA2, 0xA3, 0, 0, 0, 0, 0}));
    card->reads = {Frame(0x192, {})};
    EXPECT_EQ(Run(CCB_CMD_READ_CODE, std::vector<uint8_t>(8)), CCB_STATUS_OK);
    EXPECT_EQ(ReplyData(), std::vector<uint8_t>(8, 0));
}

TEST_F(PcCommAdapterTest, ConfigureTakesNodeTimeoutAndBothBasesAndSendsNothing) {
    EXPECT_EQ(Run(CCB_CMD_CONFIGURE, BootParams(0x25, 1000, 0x580, 0x600)), CCB_STATUS_OK);
    EXPECT_TRUE(log.empty());
    card->reads = {Frame(0x5A5, kAnswer)};
    EXPECT_EQ(Run(CCB_CMD_GET_INFO), CCB_STATUS_OK);
    EXPECT_EQ(log, (Log{"write 625 70 00 00 00 00 00 00 00", "read 200"}));
}

TEST_F(PcCommAdapterTest, BeforeAnyConfigurationFramesGoToTheDefaultNode) {
    Run(CCB_CMD_ABORT);
    EXPECT_EQ(log, Log{"write 07f ff 00 00 00 00 00 00 00"});
}

TEST_F(PcCommAdapterTest, FinalizeStartsAllNodesAndClearsVariantAndBases) {
    Configure();
    SelectVariant(CCB_CMD_SELECT_VARIANT_1);
    EXPECT_EQ(Run(CCB_CMD_FINALIZE), CCB_STATUS_OK);
    EXPECT_EQ(log, Log{"write 000 01 00"});
    log.clear();
    EXPECT_EQ(Run(CCB_CMD_ABORT), CCB_STATUS_OK);
    EXPECT_EQ(log, Log{"write 012 ff 00 00 00 00 00 00 00"});
    EXPECT_EQ(Run(CCB_CMD_BOOT_INIT, BootParams(0x12, 500)), CCB_STATUS_NO_VARIANT);
}

TEST_F(PcCommAdapterTest, WithoutVariantBootInitAndSubblockAnswer104AndSendNothing) {
    Configure();
    EXPECT_EQ(Run(CCB_CMD_BOOT_INIT, BootParams(0x30, 700)), CCB_STATUS_NO_VARIANT);
    EXPECT_EQ(Run(CCB_CMD_WRITE_SUBBLOCK, Subblock(0x4000, 16)), CCB_STATUS_NO_VARIANT);
    EXPECT_TRUE(log.empty());
    // The refused 200 did not take its parameters.
    Run(CCB_CMD_ABORT);
    EXPECT_EQ(log, Log{"write 212 ff 00 00 00 00 00 00 00"});
}

TEST_F(PcCommAdapterTest, BootInitVariant1EntersBootModeAndDrainsStaleReplies) {
    SelectVariant(CCB_CMD_SELECT_VARIANT_1);
    card->reads = {Frame(0x192, kAnswer), Result(CARD_ERR_TIMEOUT), Frame(0x192, kAnswer),
                   Frame(0x300, kAnswer)};
    EXPECT_EQ(Run(CCB_CMD_BOOT_INIT, BootParams(0x12, 500)), CCB_STATUS_OK);
    EXPECT_EQ(log, Join({{"write 000 96 12", "sleep 2000", "write 212 ff 00 00 00 00 00 00 00"},
                         Repeat("read 100", 4 + 5),
                         {"write 212 00 01 34 12 00 08 ef be"}}));
}

TEST_F(PcCommAdapterTest, BootInitVariant2SendsTheArgumentsHighByteFirstBetweenPolls) {
    SelectVariant(CCB_CMD_SELECT_VARIANT_2);
    const std::vector<uint8_t> second = {0x01, 0x00, 9, 9, 9, 9, 9, 9};
    card->reads = {Frame(0x192, kAnswer), Frame(0x192, second)};
    EXPECT_EQ(Run(CCB_CMD_BOOT_INIT, BootParams(0x12, 500)), CCB_STATUS_OK);
    EXPECT_EQ(log, (Log{"write 000 80 00", "write 000 96 12", "sleep 4000",
                        "write 212 ff 00 00 00 00 00 00 00", "write 212 ff 00 00 00 00 00 00 00",
                        kPollRequest, "sleep 300", "read 100", "write 212 00 01 12 34 08 00 be ef",
                        "sleep 1000", kPollRequest, "sleep 300", "read 100"}));
    EXPECT_EQ(ReplyData(), second);

    // The last poll decides, even after a first one that was answered.
    log.clear();
    card->reads = {Frame(0x192, kAnswer)};
    EXPECT_EQ(Run(CCB_CMD_BOOT_INIT, BootParams(0x12, 500)), CCB_STATUS_NO_REPLY);
}

// Segment frames as they went out: header byte and data, trailing bytes included.
Log SegmentWrites(const Log& log) {
    Log segments;
    for (const std::string& entry : log) {
        if (entry.rfind("write 212 2", 0) == 0) {
            segments.push_back(entry.substr(10));
        }
    }
    return segments;
}

TEST_F(PcCommAdapterTest, SubblockVariant1SendsHeaderPollThenSegmentsWithoutPauses) {
    Configure();
    SelectVariant(CCB_CMD_SELECT_VARIANT_1);
    card->reads = {Frame(0x192, kAnswer)};
    EXPECT_EQ(Run(CCB_CMD_WRITE_SUBBLOCK, Subblock(0x4800, 2048)), CCB_STATUS_OK);
    ASSERT_EQ(log.size(), 5u + 293u);
    EXPECT_EQ(Log(log.begin(), log.begin() + 5),
              (Log{"write 212 10 02 00 48 00 08 b2 a1", kPollRequest, "sleep 300", "read 100",
                   "sleep 300"}));
    const Log segments = SegmentWrites(log);
    ASSERT_EQ(segments.size(), 293u);
    EXPECT_EQ(segments[0], "27 00 01 02 03 04 05 06");
    EXPECT_EQ(segments[1], "2f 07 08 09 0a 0b 0c 0d");
    EXPECT_EQ(segments[2], "27 0e 0f 10 11 12 13 14");
    // 2048 = 292 * 7 + 4: the last frame keeps bytes 5..7 of the one before.
    EXPECT_EQ(segments[291], "2f f5 f6 f7 f8 f9 fa fb");
    EXPECT_EQ(segments[292], "24 fc fd fe ff f9 fa fb");
    EXPECT_EQ(ReplyData(), kAnswer);
}

TEST_F(PcCommAdapterTest, SubblockVariant1StopsAtTheFirstFailedWriteKeepingThePollStatus) {
    Configure();
    SelectVariant(CCB_CMD_SELECT_VARIANT_1);
    card->writes = 0;
    card->failWritesFrom = 1 + 1 + 3;  // header, poll and two segments go out, the third fails
    EXPECT_EQ(Run(CCB_CMD_WRITE_SUBBLOCK, Subblock(0x4800, 2048)), CCB_STATUS_NO_REPLY);
    EXPECT_EQ(SegmentWrites(log).size(), 3u);
}

TEST_F(PcCommAdapterTest, SubblockVariant2WaitsWhileBusyAndPausesAfterEverySegment) {
    Configure();
    SelectVariant(CCB_CMD_SELECT_VARIANT_2);
    const std::vector<uint8_t> busy = {0x00, 0x02, 0, 0, 0, 0, 0, 0};
    const std::vector<uint8_t> idle = {0x00, 0x04, 5, 0, 0, 0, 0, 0};
    card->reads = {Frame(0x192, busy),       Result(CARD_ERR_TIMEOUT), Result(CARD_ERR_TIMEOUT),
                   Result(CARD_ERR_TIMEOUT), Result(CARD_ERR_TIMEOUT), Result(CARD_ERR_TIMEOUT),
                   Frame(0x192, idle)};
    card->failWritesFrom = 1;  // no write succeeds: the segments go on regardless
    EXPECT_EQ(Run(CCB_CMD_WRITE_SUBBLOCK, Subblock(0x1234, 9)), CCB_STATUS_OK);
    EXPECT_EQ(log, Join({{"write 212 10 02 12 34 00 09 a1 b2", kPollRequest, "sleep 300",
                          "read 100", "sleep 200", kPollRequest, "sleep 300"},
                         Repeat("read 100", 5),
                         {"sleep 200", kPollRequest, "sleep 300", "read 100",
                          "write 212 27 00 01 02 03 04 05 06", "sleep 1",
                          "write 212 2a 07 08 02 03 04 05 06", "sleep 1"}}));
    EXPECT_EQ(ReplyData(), idle);
}

TEST_F(PcCommAdapterTest, SubblockVariant2GivesUpWaitingAfter25BusyPolls) {
    Configure();
    SelectVariant(CCB_CMD_SELECT_VARIANT_2);
    for (int i = 0; i < 30; ++i) {
        card->reads.push_back(Frame(0x192, {0x00, 0x01}));
    }
    EXPECT_EQ(Run(CCB_CMD_WRITE_SUBBLOCK, Subblock(0x2000, 0)), CCB_STATUS_OK);
    EXPECT_EQ(std::count(log.begin(), log.end(), kPollRequest), 26);
    EXPECT_EQ(std::count(log.begin(), log.end(), "sleep 200"), 25);
}

TEST_F(PcCommAdapterTest, SubblockVariant2RefusesTheSameAddressTwiceUntilTheNextBootInit) {
    Configure();
    SelectVariant(CCB_CMD_SELECT_VARIANT_2);
    card->reads = {Frame(0x192, kAnswer)};
    EXPECT_EQ(Run(CCB_CMD_WRITE_SUBBLOCK, Subblock(0x4000, 0)), CCB_STATUS_OK);
    log.clear();
    EXPECT_EQ(Run(CCB_CMD_WRITE_SUBBLOCK, Subblock(0x4000, 7)), CCB_STATUS_SAME_SUBBLOCK);
    EXPECT_TRUE(log.empty());
    card->reads = {Frame(0x192, kAnswer), Frame(0x192, kAnswer)};
    EXPECT_EQ(Run(CCB_CMD_BOOT_INIT, BootParams(0x12, 500)), CCB_STATUS_OK);
    card->reads = {Frame(0x192, kAnswer)};
    EXPECT_EQ(Run(CCB_CMD_WRITE_SUBBLOCK, Subblock(0x4000, 0)), CCB_STATUS_OK);
}

TEST_F(PcCommAdapterTest, ProgramVariant2PollsWhileBusyAtMost50MoreTimes) {
    struct Case {
        const char* name;
        std::deque<ReadStep> reads;
        int polls;
        uint32_t status;
    };
    std::deque<ReadStep> alwaysBusy(60, Frame(0x192, {0x00, 0x03}));
    const Case cases[] = {
        {"idle at once", {Frame(0x192, {0x00, 0x00})}, 1, CCB_STATUS_OK},
        {"busy twice",
         {Frame(0x192, {0x00, 0x01}), Frame(0x192, {0x00, 0x02}), Frame(0x192, {0x00, 0xFC})},
         3,
         CCB_STATUS_OK},
        {"always busy", alwaysBusy, 51, CCB_STATUS_OK},
        {"first poll unanswered", {}, 1, CCB_STATUS_NO_REPLY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Configure();
        SelectVariant(CCB_CMD_SELECT_VARIANT_2);
        card->reads = c.reads;
        EXPECT_EQ(Run(CCB_CMD_PROGRAM_SUBBLOCK), c.status);
        EXPECT_EQ(log.front(), "write 212 30 00 00 00 00 00 00 00");
        EXPECT_EQ(std::count(log.begin(), log.end(), kPollRequest), c.polls);
        EXPECT_EQ(std::count(log.begin(), log.end(), "sleep 100"), c.polls - 1);
        card->reads.clear();
    }
}

TEST_F(PcCommAdapterTest, OpenOpensTheCardOnceAndResetClosesIt) {
    card->openResult = CARD_ERR_NO_LIBRARY;
    EXPECT_EQ(adapter.Open(0x12), 1);
    card->openResult = 0;
    EXPECT_EQ(adapter.Open(0x12), 0);
    EXPECT_EQ(adapter.Open(0x13), 0);
    EXPECT_EQ(adapter.Reset(), 0);
    card->closeResult = CARD_ERR_DRIVER;
    EXPECT_EQ(adapter.Reset(), 1);
    EXPECT_EQ(adapter.Open(0x12), 0);
    EXPECT_EQ(log, (Log{"open", "open", "close", "close"}));
}

TEST_F(PcCommAdapterTest, SendRawSendsNothingAndLeavesTheReplyAlone) {
    CanFrameRequest raw;
    uint8_t rawReply[12];
    std::memset(rawReply, 0xCD, sizeof rawReply);
    EXPECT_EQ(adapter.SendRaw(&raw, sizeof raw, rawReply, sizeof rawReply, 1000), 0);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(rawReply[8], 0xCD);
}

TEST(PcCommAdapterLifetime, DestroysTheCardThenPauses100Ms) {
    Log log;
    LogClock clock(log);
    auto* adapter = new CPcCommAdapter(new FakeCard(log));
    delete adapter;
    EXPECT_EQ(log, (Log{"card destroyed", "sleep 100"}));
}

TEST(PcCommAdapterChannels, TheChannelNameChoosesTheDriver) {
    orv::test::FakeLibraryOpener libraries;  // no library at all
    Log log;
    LogClock clock(log);
    struct Case {
        const char* channel;
        std::vector<std::string> opened;
        std::string printed;
    };
    const Case cases[] = {
        {"CAN0", {"nican.dll"}, "ERROR: Can not load nican.dll library\n"},
        {"CAN1", {"CANAPI.DLL"}, ""},
        {"can0", {}, ""},
        {"CAN0 ", {}, ""},
        {"", {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.channel);
        libraries.ClearRequests();
        orv::ConsoleCapture capture;
        {
            CPcCommAdapter adapter(c.channel);
            EXPECT_EQ(adapter.Open(0x12), 1);
            CCcbMessage request;
            CCcbMessage reply;
            request.SetAll(0, nullptr, CCB_CMD_GET_INFO, 0);
            adapter.Transact(&request, &reply, 24, 20000);
            EXPECT_EQ(reply.status, CCB_STATUS_NO_REPLY);
            request.SetAll(0, nullptr, CCB_CMD_ABORT, 0);
            adapter.Transact(&request, &reply, 24, 20000);
            EXPECT_EQ(reply.status, CCB_STATUS_OK);
            EXPECT_EQ(adapter.Reset(), 1);
        }
        EXPECT_EQ(libraries.Requests(), c.opened);
        EXPECT_EQ(capture.Text(), c.printed);
    }
}

}  // namespace
