// The PC card transport: that it carries the commands out at the card's pace, how its waits read
// the node's replies from the card, opening, closing and raw frames; and how the card libraries
// are found. The commands themselves are the executor's tests.
#include "pccard/PcCommAdapter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <numeric>

#include "os/LibraryLoader.h"
#include "support/FakeClock.h"
#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace {

using Log = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

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
Bytes BootParams(uint8_t node, uint32_t timeoutMs) {
    return Raw(BootInitParams{.nodeId = node,
                              .page = 1,
                              .startAddress = 0x1234,
                              .length = 0x800,
                              .checksum = 0xBEEF,
                              .replyTimeoutMs = timeoutMs});
}
Bytes Subblock(uint16_t address, uint16_t length) {
    Bytes data(length);
    std::iota(data.begin(), data.end(), 0);
    return Raw(
        SubblockDescriptor{.page = 2, .address = address, .length = length, .checksum = 0xA1B2},
        data);
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

    Log log;
    orv::test::LoggingClock clock{log};
    FakeCard* card = new FakeCard(log);
    CPcCommAdapter adapter{card};
    CCcbMessage request, reply;
};

// A pause before the jump and between a poll and its answer, none between segments, a short
// segment ending in the bytes of the one before; a failed write ends the segments.
TEST_F(PcCommAdapterTest, CarriesCommandsOutAtTheCardsPace) {
    Configure(500, CCB_CMD_SELECT_VARIANT_1);
    card->reads = {Frame(0x192, kAnswer)};
    Run(CCB_CMD_JUMP_TO_APP);
    EXPECT_EQ(Run(CCB_CMD_WRITE_SUBBLOCK, Subblock(0x4800, 10)), CCB_STATUS_OK);
    EXPECT_EQ(ReplyData(), kAnswer);
    EXPECT_EQ(log,
              (Log{"sleep 50", "write 212 80 00 00 00 00 00 00 00",
                   "write 212 10 02 00 48 0a 00 b2 a1", kPoll, "sleep 300", "read 100", "sleep 300",
                   "write 212 27 00 01 02 03 04 05 06", "write 212 2b 07 08 09 03 04 05 06"}));

    Configure(500, CCB_CMD_SELECT_VARIANT_1);
    card->writes = 0;
    card->failWritesFrom = 4;  // header, poll and one segment go out, the second fails
    EXPECT_EQ(Run(CCB_CMD_WRITE_SUBBLOCK, Subblock(0x4800, 16)), CCB_STATUS_NO_REPLY);
    ASSERT_EQ(log.size(), 11u);
    EXPECT_EQ(log.back(), "write 212 2f 07 08 09 0a 0b 0c 0d");
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

TEST_F(PcCommAdapterTest, BootInitVariant1DrainsUntilFiveSilentReadsInARow) {
    Run(CCB_CMD_SELECT_VARIANT_1);
    log.clear();
    card->reads = {Frame(0x192, kAnswer), kTimeout, Frame(0x192, kAnswer), Frame(0x300, kAnswer)};
    EXPECT_EQ(Run(CCB_CMD_BOOT_INIT, BootParams(0x12, 500)), CCB_STATUS_OK);
    Log expected = {"write 000 96 12", "sleep 2000", "write 212 ff 00 00 00 00 00 00 00"};
    expected.insert(expected.end(), 4 + 5, "read 100");
    expected.push_back("write 212 00 01 34 12 00 08 ef be");
    EXPECT_EQ(log, expected);
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
    orv::test::LoggingClock clock(log);
    delete new CPcCommAdapter(new FakeCard(log));
    EXPECT_EQ(log, (Log{"card destroyed", "sleep 100"}));
}

TEST(LibraryLoader, TriesTheNamesBesideTheToolThenInItsPrivateFolderThenThroughTheLinker) {
    const struct {
        std::string windowsName, directory, privateFolder;
        Log expected;
    } cases[] = {
        {"Vendor.Can.Dll",
         "/x",
         "",
         {"/x/Vendor.Can.Dll", "/x/libvendor.can.so", "Vendor.Can.Dll", "libvendor.can.so"}},
        {"nican.dll", "", "../lib/orvflashpuc", {"nican.dll", "libnican.so"}},
        {"CANAPI.DLL",
         "/usr/bin",
         "../lib/orvflashpuc",
         {"/usr/bin/CANAPI.DLL", "/usr/bin/libcanapi.so", "/usr/bin/../lib/orvflashpuc/CANAPI.DLL",
          "/usr/bin/../lib/orvflashpuc/libcanapi.so", "CANAPI.DLL", "libcanapi.so"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(orv::LibraryCandidates(c.windowsName, c.directory, c.privateFolder), c.expected);
    }
}

TEST(LibraryLoader, LoadsTheFirstCandidateThatExistsAndFindsEntryPointsByName) {
    const std::string dir = ORV_CARDLIBS_DIR;
    EXPECT_EQ(orv::LoadFirstOf({dir + "/missing.dll", "/nowhere/libmissing.so"}), nullptr);
    const auto library = orv::LoadFirstOf({dir + "/nican.dll", dir + "/libnican.so"});
    ASSERT_NE(library, nullptr);
    EXPECT_NE(library->Find("ncCreateNotification"), nullptr);
    EXPECT_EQ(library->Find("ncNoSuchEntry"), nullptr);
}

}  // namespace
