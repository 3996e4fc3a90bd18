#include "pccard/PcCommAdapter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <numeric>

#include "os/Clock.h"
#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace {

using Log = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

// Writes every pause into the same log as the card's writes and reads: one sequence to check.
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

ReadStep Frame(uint32_t id, Bytes data) {
    ReadStep step;
    step.frame.id = id;
    step.frame.length = static_cast<uint32_t>(data.size());
    std::copy(data.begin(), data.end(), step.frame.data);
    return step;
}
const ReadStep kTimeout{CARD_ERR_TIMEOUT, {}};

class FakeCard : public CCanCard {
  public:
    explicit FakeCard(Log& log) : log_(log) {}
    ~FakeCard() override { log_.push_back("card destroyed"); }

    int Open() override { return log_.push_back("open"), openResult; }
    int Close() override { return log_.push_back("close"), closeResult; }
    int Reset() override { return log_.push_back("reset"), 0; }
    int Write(uint16_t id, const uint8_t* data, int length) override {
        char text[64];
        int used = std::snprintf(text, sizeof text, "write %03x", id);
        for (int i = 0; i < length; ++i) {
            used += std::snprintf(text + used, sizeof text - used, " %02x", data[i]);
        }
        log_.push_back(text);
        return ++writes >= failWritesFrom ? CARD_ERR_TIMEOUT : 0;
    }
    int Read(CanCardFrame* frame, uint32_t timeoutMs) override {
        log_.push_back("read " + std::to_string(timeoutMs));
        const ReadStep step = reads.empty() ? kTimeout : reads.front();
        if (!reads.empty()) {
            reads.pop_front();
        }
        *frame = step.frame;
        return step.result;
    }

    std::deque<ReadStep> reads;
    int openResult = 0, closeResult = 0, writes = 0, failWritesFrom = 1 << 30;

  private:
    Log& log_;
};

template <typename Record>
Bytes Raw(const Record& record, Bytes tail = {}) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
    tail.insert(tail.begin(), bytes, bytes + sizeof record);
    return tail;
}
Bytes BootParams(uint8_t node, uint32_t timeoutMs, uint16_t replyBase = 0x180,
                 uint16_t requestBase = 0x200) {
    return Raw(BootInitParams{.nodeId = node,
                              .page = 1,
                              .startAddress = 0x1234,
                              .length = 0x800,
                              .checksum = 0xBEEF,
                              .replyTimeoutMs = timeoutMs,
                              .replyBase = replyBase,
                              .requestBase = requestBase});
}
Bytes Subblock(uint16_t address, uint16_t length) {
    Bytes data(length);
    std::iota(data.begin(), data.end(), 0);
    return Raw(
        SubblockDescriptor{.page = 2, .address = address, .length = length, .checksum = 0xA1B2},
        data);
}

Log Join(std::initializer_list<Log> parts) {
    Log all;
    for (const Log& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

const std::string kPoll = "write 212 50 00 00 00 00 00 00 00";
const Bytes kAnswer = {0x11, 0x00, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};

class PcCommAdapterTest : public ::testing::Test {
  protected:
    uint32_t Run(uint32_t command, const Bytes& payload = {}) {
        request.SetAll(static_cast<uint32_t>(payload.size()), payload.data(), command, 0);
        reply.status = 0xFFFFFFFF;
        EXPECT_EQ(adapter.Transact(&request, &reply, 24, 20000), 0);
        EXPECT_EQ(reply.command, command);
        return reply.status;
    }
    // Node 0x12, replies 0x192, requests 0x212; then, if given, a variant. Forgets the log.
    void Configure(uint32_t timeoutMs = 500, uint32_t variant = 0) {
        Run(CCB_CMD_CONFIGURE, BootParams(0x12, timeoutMs));
        if (variant != 0) {
            Run(variant);
        }
        log.clear();
    }
    Bytes ReplyData() const { return {reply.data, reply.data + reply.dataLength}; }
    long Count(const std::string& entry) const { return std::count(log.begin(), log.end(), entry); }

    Log log;
    LogClock clock{log};
    FakeCard* card = new FakeCard(log);
    CPcCommAdapter adapter{card};
    CCcbMessage request, reply;
};

TEST_F(PcCommAdapterTest, EachSimpleCommandSendsItsFrameAndTakesAtMostOneAnswer) {
    const struct {
        uint32_t command;
        Bytes payload;
        Log expected;  // an entry "read ..." means the node answers kAnswer
    } cases[] = {
        {CCB_CMD_ABORT, {}, {"write 212 ff 00 00 00 00 00 00 00"}},
        {CCB_CMD_WRITE_ENABLE, {}, {"write 212 aa 55 00 00 00 00 00 00"}},
        {CCB_CMD_JUMP_TO_APP, {}, {"sleep 50", "write 212 80 00 00 00 00 00 00 00"}},
        {CCB_CMD_VALIDATE, {9}, {"write 212 40 00 00 00 00 00 00 00"}},
        {CCB_CMD_PROGRAM_SUBBLOCK, {}, {"write 212 30 00 00 00 00 00 00 00"}},
        {CCB_CMD_INIT_EXT_INFO, Bytes(16, 0xEE), {"write 212 c0 00 00 00 00 00 00 00"}},
        {CCB_CMD_SEND_DATA, {1, 2, 3, 4, 5, 6, 7, 8}, {"write 212 01 02 03 04 05 06 07 08"}},
        {CCB_CMD_SELECT_VARIANT_1, {}, {"write 000 80 00"}},
        {CCB_CMD_SELECT_VARIANT_2, {}, {"write 000 80 00"}},
        {CCB_CMD_READ_CODE,
         {0xEE, 0x01, 0x40, 0x00, 0x08, 0x00, 0x00, 0x00},
         {"write 212 60 01 40 00 08 00 00 00", "read 100"}},
        {CCB_CMD_GET_INFO, {}, {"write 212 70 00 00 00 00 00 00 00", "read 100"}},
        {CCB_CMD_GET_STATUS, {}, {kPoll, "sleep 300", "read 100"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        Configure();
        card->reads = {Frame(0x192, kAnswer)};
        EXPECT_EQ(Run(c.command, c.payload), CCB_STATUS_OK);
        EXPECT_EQ(log, c.expected);
        EXPECT_EQ(ReplyData(), c.expected.back() == "read 100" ? kAnswer : Bytes{});
    }

    // A short payload leaves the rest of the data area as it was.
    log.clear();
    request.SetAll(8, Bytes(8, 9).data(), CCB_CMD_SEND_DATA, 0);
    request.SetData(Bytes{0x21, 0x22}.data(), 2);
    adapter.Transact(&request, &reply, 16, 20000);
    EXPECT_EQ(log, Log{"write 212 21 22 09 09 09 09 09 09"});

    log.clear();
    for (uint32_t reserved : {0u, 100u, 108u, 199u, 211u, 214u, 216u, 219u, 4000u}) {
        EXPECT_EQ(Run(reserved, {1, 2, 3}), CCB_STATUS_NOT_EXECUTED) << reserved;
    }
    EXPECT_TRUE(log.empty());
}

TEST_F(PcCommAdapterTest, ASilentNodeFailsAfterFiveReadsOfAFifthOfTheReplyTimeout) {
    const struct {
        uint32_t replyTimeoutMs;  // 0: never configured, so first
        const char* read;
    } cases[] = {{0, "read 400"}, {4, "read 0"}, {1999, "read 399"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.replyTimeoutMs);
        if (c.replyTimeoutMs != 0) {
            Configure(c.replyTimeoutMs);
        }
        for (uint32_t command : {CCB_CMD_READ_CODE, CCB_CMD_GET_INFO}) {
            log.clear();
            EXPECT_EQ(Run(command, Bytes(8)), CCB_STATUS_NO_REPLY);
            EXPECT_EQ(Log(log.begin() + 1, log.end()), Log(5, c.read));
            EXPECT_EQ(reply.dataLength, 0u);
        }
    }
}

TEST_F(PcCommAdapterTest, ForeignFramesProlongAWaitAReadErrorEndsItShortRepliesCount) {
    Configure();
    card->reads = {Frame(0x193, kAnswer), kTimeout, Frame(0x000, {1, 0x12}),
                   Frame(0x212, kAnswer), kTimeout, kTimeout,
                   Frame(0x092, kAnswer), kTimeout, Frame(0x192, kAnswer)};
    EXPECT_EQ(Run(CCB_CMD_GET_INFO), CCB_STATUS_OK);
    EXPECT_EQ(log.size(), 1u + 9u);
    EXPECT_EQ(ReplyData(), kAnswer);

    log.clear();
    card->reads = {Frame(0x193, kAnswer), Frame(0x194, kAnswer), Frame(0x195, kAnswer)};
    EXPECT_EQ(Run(CCB_CMD_GET_INFO), CCB_STATUS_NO_REPLY);
    EXPECT_EQ(log.size(), 1u + 3u + 5u);

    for (int error : {int{CARD_ERR_DRIVER}, int{CARD_ERR_NO_LIBRARY}, -1074388991}) {
        log.clear();
        card->reads = {ReadStep{error, {}}, Frame(0x192, kAnswer)};
        EXPECT_EQ(Run(CCB_CMD_GET_INFO), CCB_STATUS_NO_REPLY);
        EXPECT_EQ(log, (Log{"write 212 70 00 00 00 00 00 00 00", "read 100"}));
    }

    // A short reply frame fills only its own bytes.
    card->reads = {Frame(0x192, {0xA1, 0xA2, 0xA3})};
    EXPECT_EQ(Run(CCB_CMD_GET_INFO), CCB_STATUS_OK);
    EXPECT_EQ(ReplyData(), (Bytes{0xA1, 0xA2, 0xA3, 0, 0, 0, 0, 0}));
    card->reads = {Frame(0x192, {})};
    EXPECT_EQ(Run(CCB_CMD_READ_CODE, Bytes(8)), CCB_STATUS_OK);
    EXPECT_EQ(ReplyData(), Bytes(8, 0));
}

TEST_F(PcCommAdapterTest, ConfigureSetsNodeTimeoutAndBasesFinalizeClearsThemAndTheVariant) {
    Run(CCB_CMD_ABORT);  // before any configuration: the default node
    EXPECT_EQ(Run(CCB_CMD_CONFIGURE, BootParams(0x25, 1000, 0x580, 0x600)), CCB_STATUS_OK);
    card->reads = {Frame(0x5A5, kAnswer)};
    EXPECT_EQ(Run(CCB_CMD_GET_INFO), CCB_STATUS_OK);
    EXPECT_EQ(log, (Log{"write 07f ff 00 00 00 00 00 00 00", "write 625 70 00 00 00 00 00 00 00",
                        "read 200"}));

    Configure(500, CCB_CMD_SELECT_VARIANT_1);
    EXPECT_EQ(Run(CCB_CMD_FINALIZE), CCB_STATUS_OK);
    EXPECT_EQ(Run(CCB_CMD_ABORT), CCB_STATUS_OK);
    EXPECT_EQ(log, (Log{"write 000 01 00", "write 012 ff 00 00 00 00 00 00 00"}));
    // Without a variant 200 and 202 answer 104 and send nothing; 200 takes none of its parameters.
    EXPECT_EQ(Run(CCB_CMD_BOOT_INIT, BootParams(0x30, 700)), CCB_STATUS_NO_VARIANT);
    EXPECT_EQ(Run(CCB_CMD_WRITE_SUBBLOCK, Subblock(0x4000, 16)), CCB_STATUS_NO_VARIANT);
    log.clear();
    Run(CCB_CMD_ABORT);
    EXPECT_EQ(log, Log{"write 012 ff 00 00 00 00 00 00 00"});
}

TEST_F(PcCommAdapterTest, BootInitVariant1EntersBootModeAndDrainsStaleReplies) {
    Run(CCB_CMD_SELECT_VARIANT_1);
    log.clear();
    card->reads = {Frame(0x192, kAnswer), kTimeout, Frame(0x192, kAnswer), Frame(0x300, kAnswer)};
    EXPECT_EQ(Run(CCB_CMD_BOOT_INIT, BootParams(0x12, 500)), CCB_STATUS_OK);
    EXPECT_EQ(log, Join({{"write 000 96 12", "sleep 2000", "write 212 ff 00 00 00 00 00 00 00"},
                         Log(4 + 5, "read 100"),
                         {"write 212 00 01 34 12 00 08 ef be"}}));
}

TEST_F(PcCommAdapterTest, BootInitVariant2SendsTheArgumentsHighByteFirstBetweenPolls) {
    Run(CCB_CMD_SELECT_VARIANT_2);
    log.clear();
    const Bytes second = {0x01, 0x00, 9, 9, 9, 9, 9, 9};
    card->reads = {Frame(0x192, kAnswer), Frame(0x192, second)};
    EXPECT_EQ(Run(CCB_CMD_BOOT_INIT, BootParams(0x12, 500)), CCB_STATUS_OK);
    EXPECT_EQ(log, (Log{"write 000 80 00", "write 000 96 12", "sleep 4000",
                        "write 212 ff 00 00 00 00 00 00 00", "write 212 ff 00 00 00 00 00 00 00",
                        kPoll, "sleep 300", "read 100", "write 212 00 01 12 34 08 00 be ef",
                        "sleep 1000", kPoll, "sleep 300", "read 100"}));
    EXPECT_EQ(ReplyData(), second);

    // The last poll decides, even after a first one that was answered.
    card->reads = {Frame(0x192, kAnswer)};
    EXPECT_EQ(Run(CCB_CMD_BOOT_INIT, BootParams(0x12, 500)), CCB_STATUS_NO_REPLY);
}

TEST_F(PcCommAdapterTest, SubblockVariant1SendsHeaderPollThenSegmentsWithoutPauses) {
    Configure(500, CCB_CMD_SELECT_VARIANT_1);
    card->reads = {Frame(0x192, kAnswer)};
    EXPECT_EQ(Run(CCB_CMD_WRITE_SUBBLOCK, Subblock(0x4800, 2048)), CCB_STATUS_OK);
    EXPECT_EQ(ReplyData(), kAnswer);
    ASSERT_EQ(log.size(), 5u + 293u);
    // 2048 = 292 * 7 + 4: the last frame keeps bytes 5..7 of the one before.
    EXPECT_EQ(Log(log.begin(), log.begin() + 8),
              (Log{"write 212 10 02 00 48 00 08 b2 a1", kPoll, "sleep 300", "read 100", "sleep 300",
                   "write 212 27 00 01 02 03 04 05 06", "write 212 2f 07 08 09 0a 0b 0c 0d",
                   "write 212 27 0e 0f 10 11 12 13 14"}));
    EXPECT_EQ(Log(log.end() - 2, log.end()),
              (Log{"write 212 2f f5 f6 f7 f8 f9 fa fb", "write 212 24 fc fd fe ff f9 fa fb"}));

    // The first failed write ends it, keeping the poll's status.
    Configure(500, CCB_CMD_SELECT_VARIANT_1);
    card->writes = 0;
    card->failWritesFrom = 1 + 1 + 3;  // header, poll and two segments go out, the third fails
    EXPECT_EQ(Run(CCB_CMD_WRITE_SUBBLOCK, Subblock(0x4800, 2048)), CCB_STATUS_NO_REPLY);
    EXPECT_EQ(log.size(), 1u + 1u + 1u + 5u + 1u + 3u);
}

TEST_F(PcCommAdapterTest, SubblockVariant2WaitsWhileBusyAndPausesAfterEverySegment) {
    Configure(500, CCB_CMD_SELECT_VARIANT_2);
    const Bytes busy = {0x00, 0x02, 0, 0, 0, 0, 0, 0};
    const Bytes idle = {0x00, 0x04, 5, 0, 0, 0, 0, 0};
    card->reads = {Frame(0x192, busy), kTimeout, kTimeout,          kTimeout,
                   kTimeout,           kTimeout, Frame(0x192, idle)};
    card->failWritesFrom = 1;  // no write succeeds: the segments go on regardless
    EXPECT_EQ(Run(CCB_CMD_WRITE_SUBBLOCK, Subblock(0x1234, 9)), CCB_STATUS_OK);
    EXPECT_EQ(log, Join({{"write 212 10 02 12 34 00 09 a1 b2", kPoll, "sleep 300", "read 100",
                          "sleep 200", kPoll, "sleep 300"},
                         Log(5, "read 100"),
                         {"sleep 200", kPoll, "sleep 300", "read 100",
                          "write 212 27 00 01 02 03 04 05 06", "sleep 1",
                          "write 212 2a 07 08 02 03 04 05 06", "sleep 1"}}));
    EXPECT_EQ(ReplyData(), idle);

    // It gives up waiting after 25 busy polls.
    Configure(500, CCB_CMD_SELECT_VARIANT_2);
    card->reads.assign(30, Frame(0x192, {0x00, 0x01}));
    EXPECT_EQ(Run(CCB_CMD_WRITE_SUBBLOCK, Subblock(0x2000, 0)), CCB_STATUS_OK);
    EXPECT_EQ(Count(kPoll), 26);
    EXPECT_EQ(Count("sleep 200"), 25);
}

TEST_F(PcCommAdapterTest, SubblockVariant2RefusesTheSameAddressTwiceUntilTheNextBootInit) {
    Configure(500, CCB_CMD_SELECT_VARIANT_2);
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
    const struct {
        std::deque<ReadStep> reads;
        long polls;
        uint32_t status;
    } cases[] = {
        {{Frame(0x192, {0x00, 0x01}), Frame(0x192, {0x00, 0x02}), Frame(0x192, {0x00, 0xFC})},
         3,
         CCB_STATUS_OK},
        {std::deque<ReadStep>(60, Frame(0x192, {0x00, 0x03})), 51, CCB_STATUS_OK},
        {{}, 1, CCB_STATUS_NO_REPLY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.polls);
        Configure(500, CCB_CMD_SELECT_VARIANT_2);
        card->reads = c.reads;
        EXPECT_EQ(Run(CCB_CMD_PROGRAM_SUBBLOCK), c.status);
        EXPECT_EQ(log.front(), "write 212 30 00 00 00 00 00 00 00");
        EXPECT_EQ(Count(kPoll), c.polls);
        EXPECT_EQ(Count("sleep 100"), c.polls - 1);
    }
}

TEST_F(PcCommAdapterTest, OpenOpensTheCardOnceResetClosesItSendRawDoesNothing) {
    card->openResult = CARD_ERR_NO_LIBRARY;
    EXPECT_EQ(adapter.Open(0x12), 1);
    card->openResult = 0;
    EXPECT_EQ(adapter.Open(0x12), 0);
    EXPECT_EQ(adapter.Open(0x13), 0);
    EXPECT_EQ(adapter.Reset(), 0);
    card->closeResult = CARD_ERR_DRIVER;
    EXPECT_EQ(adapter.Reset(), 1);
    EXPECT_EQ(adapter.Open(0x12), 0);

    CanFrameRequest raw;
    uint8_t rawReply[12];
    std::memset(rawReply, 0xCD, sizeof rawReply);
    EXPECT_EQ(adapter.SendRaw(&raw, sizeof raw, rawReply, sizeof rawReply, 1000), 0);
    EXPECT_EQ(rawReply[8], 0xCD);
    EXPECT_EQ(log, (Log{"open", "open", "close", "close"}));
}

TEST(PcCommAdapterLifetime, DestroysTheCardThenPauses100Ms) {
    Log log;
    LogClock clock(log);
    delete new CPcCommAdapter(new FakeCard(log));
    EXPECT_EQ(log, (Log{"card destroyed", "sleep 100"}));
}

}  // namespace
