// The PC card transport: that it carries the commands out at the card's pace, how its waits read
// the node's replies from the card, opening, closing and raw frames; and how the card libraries
// are found. The commands themselves are the executor's tests.
#include "pccard/PcCommAdapter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>

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
Bytes Raw(const Record& record) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
    return {bytes, bytes + sizeof record};
}
Bytes BootParams(uint32_t timeoutMs) {
    return Raw(BootInitParams{.nodeId = 0x12,
                              .page = 1,
                              .startAddress = 0x1234,
                              .length = 0x800,
                              .checksum = 0xBEEF,
                              .replyTimeoutMs = timeoutMs});
}

const Bytes kAnswer = {0x11, 0x00, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
const std::string kInfo = "write 212 70 00 00 00 00 00 00 00";
Log Reads(Log head, int count, const std::string& read = "read 100", Log tail = {}) {
    head.insert(head.end(), count, read);
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

class PcCommAdapterTest : public ::testing::Test {
  protected:
    uint32_t Run(uint32_t command, const Bytes& payload = {}) {
        request.SetAll(static_cast<uint32_t>(payload.size()), payload.data(), command, 0);
        reply.status = 0xFFFFFFFF;
        EXPECT_EQ(adapter.Transact(&request, &reply, 24, 20000), 0);
        EXPECT_EQ(reply.command, command);
        return reply.status;
    }

    Log log;
    orv::test::LoggingClock clock{log};
    FakeCard* card = new FakeCard(log);
    CPcCommAdapter adapter{card};
    CCcbMessage request, reply;
};

// Node 0x12 (requests 0x212, replies 0x192), its reply timeout 500 ms unless a row says else: a
// wait reads a fifth of it at a time, gives up after five silent reads in a row, skips foreign
// frames, ends at a read error; a reply fills only its own bytes; a drain goes on while the node
// answers; a failed write fails the command.
TEST_F(PcCommAdapterTest, WaitsForTheNodesRepliesInTheCardsRing) {
    const struct {
        uint32_t timeoutMs, command;
        std::vector<ReadStep> reads;
        uint32_t status;
        Log log;
        Bytes data;
    } cases[] = {
        {1999, CCB_CMD_GET_INFO, {}, CCB_STATUS_NO_REPLY, Reads({kInfo}, 5, "read 399"), {}},
        {500,
         CCB_CMD_GET_INFO,
         {Frame(0x193, kAnswer), kTimeout, Frame(0x000, {1, 0x12}), Frame(0x212, kAnswer), kTimeout,
          kTimeout, Frame(0x092, kAnswer), kTimeout, Frame(0x192, kAnswer)},
         CCB_STATUS_OK,
         Reads({kInfo}, 9),
         kAnswer},
        {500,
         CCB_CMD_GET_INFO,
         {Frame(0x193, kAnswer), Frame(0x194, kAnswer)},
         CCB_STATUS_NO_REPLY,
         Reads({kInfo}, 7),
         {}},
        {500,
         CCB_CMD_GET_INFO,
         {ReadStep{CARD_ERR_DRIVER, {}}, Frame(0x192, kAnswer)},
         CCB_STATUS_NO_REPLY,
         Reads({kInfo}, 1),
         {}},
        {500,
         CCB_CMD_GET_INFO,
         {ReadStep{-1074388991, {}}},
         CCB_STATUS_NO_REPLY,
         Reads({kInfo}, 1),
         {}},
        {500,
         CCB_CMD_GET_INFO,
         {Frame(0x192, {0xA1, 0xA2, 0xA3})},
         CCB_STATUS_OK,
         Reads({kInfo}, 1),
         {0xA1, 0xA2, 0xA3, 0, 0, 0, 0, 0}},
        {500, CCB_CMD_SELECT_VARIANT_1, {}, CCB_STATUS_OK, {"write 000 80 00"}, {}},
        {500,
         CCB_CMD_BOOT_INIT,
         {Frame(0x192, kAnswer), kTimeout, Frame(0x192, kAnswer), Frame(0x300, kAnswer)},
         CCB_STATUS_OK,
         Reads({"write 000 96 12", "sleep 2000", "write 212 ff 00 00 00 00 00 00 00"}, 4 + 5,
               "read 100", {"write 212 00 01 34 12 00 08 ef be"}),
         {}},
        {500,
         CCB_CMD_WRITE_SUBBLOCK,
         {Frame(0x192, kAnswer)},
         CCB_STATUS_OK,
         {"write 212 10 00 00 00 10 00 00 00", "write 212 50 00 00 00 00 00 00 00", "sleep 300",
          "read 100", "sleep 300", "write 212 27 ab ab ab ab ab ab ab"},
         kAnswer},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(log.size());
        Run(CCB_CMD_CONFIGURE, BootParams(c.timeoutMs));
        card->reads.assign(c.reads.begin(), c.reads.end());
        card->failWritesFrom = &c == std::end(cases) - 1 ? 0 : 1 << 30;
        log.clear();
        Bytes payload = c.command == CCB_CMD_BOOT_INIT ? BootParams(500) : Bytes{};
        if (c.command == CCB_CMD_WRITE_SUBBLOCK) {
            payload = Raw(SubblockDescriptor{.length = 16});
            payload.resize(payload.size() + 16, 0xAB);
        }
        EXPECT_EQ(Run(c.command, payload), c.status);
        EXPECT_EQ(log, c.log);
        EXPECT_EQ(Bytes(reply.data, reply.data + reply.dataLength), c.data);
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
