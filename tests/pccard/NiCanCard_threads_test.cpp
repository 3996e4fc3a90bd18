#include "pccard/NiCanCard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "FakeLibraryOpener.h"
#include "FakeNiCan.h"
#include "platform/Console.h"
#include "support/FakeClock.h"

namespace orv::test {
namespace {

using Calls = std::vector<std::string>;

const char* const kEntryPoints[] = {"ncOpenObject", "ncCloseObject",        "ncRead",   "ncWrite",
                                    "ncReset",      "ncCreateNotification", "ncConfig", "ncAction"};
const std::string kConfig =
    "ncConfig CAN0 8 80000007=250000 80000006=1 80000013=100 80000014=20 80010001=0 "
    "80010002=0 80010003=0 80010004=0";
const std::string kCreateNotification = "ncCreateNotification 5a17 7 ffffffff null callback";

class NiCanCardTest : public ::testing::Test {
  protected:
    void OpenCard() {
        ASSERT_EQ(card.Open(), 0);
        fake.ClearCalls();
    }
    CanCardFrame ReadOne(uint32_t timeoutMs = 2000) {
        CanCardFrame frame;
        EXPECT_EQ(card.Read(&frame, timeoutMs), 0);
        return frame;
    }

    FakeClock clock;
    FakeLibraryOpener libraries;
    FakeNiCan fake;
    bool provided = (libraries.Provide("nican.dll", fake.Table()), true);
    CNiCanCard card;
};

TEST_F(NiCanCardTest, LooksUpTheEightEntryPointsAndOpensWithItsAttributesInOrder) {
    EXPECT_EQ(libraries.Requests(), Calls{"nican.dll"});
    EXPECT_EQ(libraries.Lookups(), Calls(std::begin(kEntryPoints), std::end(kEntryPoints)));
    EXPECT_EQ(card.Open(), 0);
    EXPECT_EQ(fake.Calls(), (Calls{kConfig, "ncOpenObject CAN0", kCreateNotification}));
    fake.ClearCalls();
    EXPECT_EQ(card.Close(), 0);
    EXPECT_EQ(fake.Calls(), (Calls{"ncAction 5a17 80000003 0", "ncCloseObject 5a17"}));
    EXPECT_EQ(clock.Sleeps(), std::vector<uint32_t>{300});
}

TEST_F(NiCanCardTest, OpenPassesLibraryStatusesThroughAndAFailedNotificationGives107) {
    struct Case {
        const char* name;
        std::atomic<nican::Status> FakeNiCan::*result;
        nican::Status status;
        int expected;
        Calls calls;
    };
    const Case cases[] = {
        {"config", &FakeNiCan::configResult, -1074388983, -1074388983, {kConfig}},
        {"open warning",
         &FakeNiCan::openResult,
         0x3FF62005,
         0x3FF62005,
         {kConfig, "ncOpenObject CAN0"}},
        {"notification",
         &FakeNiCan::notificationResult,
         -1074388000,
         CARD_ERR_DRIVER,
         {kConfig, "ncOpenObject CAN0", kCreateNotification}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake.ClearCalls();
        fake.*c.result = c.status;
        EXPECT_EQ(card.Open(), c.expected);
        EXPECT_EQ(fake.Calls(), c.calls);
        fake.*c.result = 0;
    }
}

TEST_F(NiCanCardTest, WriteSendsThe14ByteFrameAndReturnsAfterWriteSuccess) {
    OpenCard();
    const uint8_t data[8] = {0x50, 1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(card.Write(0x212, data, 8), 0);
    EXPECT_EQ(card.Write(0x000, data, 2), 0);
    EXPECT_EQ(card.Write(0x7FF, nullptr, 0), 0);
    EXPECT_EQ(fake.Calls(),
              (Calls{"ncWrite 5a17 14 id=212 remote=0 length=8 data=50.1.2.3.4.5.6.7.",
                     "ncWrite 5a17 14 id=0 remote=0 length=2 data=50.1.0.0.0.0.0.0.",
                     "ncWrite 5a17 14 id=7ff remote=0 length=0 data=0.0.0.0.0.0.0.0."}));
}

TEST_F(NiCanCardTest, WriteWithoutWriteSuccessTimesOutAfter350Ms) {
    OpenCard();
    fake.acknowledgeWrites = false;
    const uint8_t data[8] = {};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(card.Write(0x212, data, 8), CARD_ERR_TIMEOUT);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(340));
    fake.writeResult = -1074388985;
    EXPECT_EQ(card.Write(0x212, data, 8), CARD_ERR_DRIVER);
}

TEST_F(NiCanCardTest, FramesComeOutInOrderWithTheirLengthsZeroIncluded) {
    OpenCard();
    fake.Receive(
        {NiFrame(0x192, {1, 2, 3, 4, 5, 6, 7, 8}), NiFrame(0x193, {}), NiFrame(0x0, {0x80, 0x12})});
    CanCardFrame frame = ReadOne();
    EXPECT_EQ(frame.id, 0x192u);
    EXPECT_EQ(frame.length, 8u);
    EXPECT_EQ(frame.data[7], 8);
    frame = ReadOne();
    EXPECT_EQ(frame.id, 0x193u);
    EXPECT_EQ(frame.length, 0u);
    frame = ReadOne();
    EXPECT_EQ(frame.id, 0x0u);
    EXPECT_EQ(frame.length, 2u);
    EXPECT_EQ(frame.data[1], 0x12);
    EXPECT_EQ(fake.Calls(), Calls(3, "ncRead 5a17 22"));
}

TEST_F(NiCanCardTest, ReadWithTimeoutZeroOnAnEmptyRingReturnsAtOnce) {
    OpenCard();
    CanCardFrame frame;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(card.Read(&frame, 0), CARD_ERR_TIMEOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    EXPECT_EQ(card.Read(&frame, 30), CARD_ERR_TIMEOUT);
}

TEST_F(NiCanCardTest, AFullRingDropsTheNewestFrames) {
    OpenCard();
    std::vector<nican::TimedFrame> frames;
    for (uint32_t i = 0; i < 258; ++i) {
        frames.push_back(NiFrame(i, {static_cast<uint8_t>(i)}));
    }
    fake.Receive(frames);
    EXPECT_EQ(fake.Pending(), 0u);  // the dropped frames were still taken from the library
    for (uint32_t i = 0; i < 256; ++i) {
        ASSERT_EQ(ReadOne().id, i);
    }
    CanCardFrame frame;
    EXPECT_EQ(card.Read(&frame, 0), CARD_ERR_TIMEOUT);
    // Room again: the next frame is kept.
    fake.Receive({NiFrame(0x300, {})});
    EXPECT_EQ(ReadOne().id, 0x300u);
}

TEST_F(NiCanCardTest, ReaderAndNotificationThreadMeetWithoutLosingFrames) {
    OpenCard();
    constexpr uint32_t kFrames = 1000;
    constexpr uint32_t kMaxAhead = 200;  // the library never gets a full ring ahead
    std::atomic<uint32_t> taken{0};
    for (uint32_t i = 0; i < kFrames; ++i) {
        fake.Post([&taken, i] {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (i >= taken + kMaxAhead && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::yield();
            }
        });
        fake.ReceiveAsync(
            {NiFrame(i % 0x800, {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8)})});
    }
    for (uint32_t i = 0; i < kFrames; ++i) {
        CanCardFrame frame;
        ASSERT_EQ(card.Read(&frame, 5000), 0);
        ASSERT_EQ(frame.data[0] | (frame.data[1] << 8), static_cast<int>(i));
        ++taken;
    }
}

TEST_F(NiCanCardTest, NotificationServesOneStateAndAnswersWithItsBits) {
    OpenCard();
    EXPECT_EQ(fake.Notify(nican::kStateReadAvailable), nican::kStateReadAvailable);
    EXPECT_EQ(fake.Calls(), Calls{"ncRead 5a17 22"});  // nothing to read: nothing stored
    CanCardFrame frame;
    EXPECT_EQ(card.Read(&frame, 0), CARD_ERR_TIMEOUT);

    // Both bits: only the read is served, so the write success is not seen.
    fake.ClearCalls();
    fake.acknowledgeWrites = false;
    fake.ReceiveAsync({});
    EXPECT_EQ(fake.Notify(nican::kStateReadAvailable | nican::kStateWriteSuccess), 3u);
    EXPECT_EQ(card.Write(0x212, nullptr, 0), CARD_ERR_TIMEOUT);
    // The write success alone is.
    EXPECT_EQ(fake.Notify(nican::kStateWriteSuccess), nican::kStateWriteSuccess);
    EXPECT_EQ(card.Write(0x212, nullptr, 0), 0);

    // Stopped: nothing is done and no further notification is wanted.
    fake.ClearCalls();
    EXPECT_EQ(fake.Notify(nican::kStateStopped | nican::kStateReadAvailable), 0u);
    EXPECT_TRUE(fake.Calls().empty());
}

TEST_F(NiCanCardTest, AfterCloseNotificationsAreRefusedAndReadTimesOutOnceEmpty) {
    OpenCard();
    fake.Receive({NiFrame(0x192, {1})});
    EXPECT_EQ(card.Close(), 0);
    fake.ClearCalls();
    EXPECT_EQ(fake.Notify(nican::kStateReadAvailable), 0u);
    fake.Receive({NiFrame(0x192, {2})});
    EXPECT_TRUE(fake.Calls().empty());
    EXPECT_EQ(ReadOne().data[0], 1);
    CanCardFrame frame;
    EXPECT_EQ(card.Read(&frame, 20), CARD_ERR_TIMEOUT);
    // Nothing open any more.
    EXPECT_EQ(card.Close(), CARD_ERR_DRIVER);
    EXPECT_TRUE(fake.Calls().empty());
}

TEST_F(NiCanCardTest, CloseWithoutOpenObjectAnd107WhenClosingFails) {
    EXPECT_EQ(card.Close(), CARD_ERR_DRIVER);
    EXPECT_TRUE(fake.Calls().empty());
    OpenCard();
    fake.closeResult = -1;
    EXPECT_EQ(card.Close(), CARD_ERR_DRIVER);
}

TEST_F(NiCanCardTest, ResetResetsTheInterfaceOpenOrNot) {
    EXPECT_EQ(card.Reset(), 0);
    fake.resetResult = -1074388000;
    EXPECT_EQ(card.Reset(), CARD_ERR_DRIVER);
    EXPECT_EQ(fake.Calls(), Calls(2, "ncReset CAN0 0"));
}

TEST(NiCanCardLifetime, DestroyingAnOpenCardClosesItsObjectAndUnloadsTheLibrary) {
    FakeClock clock;
    FakeLibraryOpener libraries;
    FakeNiCan fake;
    libraries.Provide("nican.dll", fake.Table());
    {
        CNiCanCard card;
        ASSERT_EQ(card.Open(), 0);
        fake.ClearCalls();
    }
    EXPECT_EQ(fake.Calls(), (Calls{"ncAction 5a17 80000003 0", "ncCloseObject 5a17"}));
    EXPECT_EQ(clock.Sleeps(), std::vector<uint32_t>{300});
    EXPECT_EQ(libraries.LoadedCount(), 0);
}

void ExpectEveryOperation108(CNiCanCard& card) {
    CanCardFrame frame;
    const uint8_t data[8] = {};
    EXPECT_EQ(card.Open(), CARD_ERR_NO_LIBRARY);
    EXPECT_EQ(card.Write(0x212, data, 8), CARD_ERR_NO_LIBRARY);
    EXPECT_EQ(card.Read(&frame, 10), CARD_ERR_NO_LIBRARY);
    EXPECT_EQ(card.Reset(), CARD_ERR_NO_LIBRARY);
    EXPECT_EQ(card.Close(), CARD_ERR_NO_LIBRARY);
}

TEST(NiCanCardWithoutLibrary, SaysSoAndAnswers108ToEverything) {
    FakeLibraryOpener libraries;
    ConsoleCapture capture;
    CNiCanCard card;
    EXPECT_EQ(capture.Text(), "ERROR: Can not load nican.dll library\n");
    ExpectEveryOperation108(card);
}

TEST(NiCanCardWithoutLibrary, AMissingEntryPointUnloadsTheLibrary) {
    for (const char* missing : kEntryPoints) {
        SCOPED_TRACE(missing);
        FakeLibraryOpener libraries;
        FakeNiCan fake;
        libraries.Provide("nican.dll", fake.Table());
        libraries.RemoveEntryPoint("nican.dll", missing);
        ConsoleCapture capture;
        CNiCanCard card;
        EXPECT_EQ(capture.Text(),
                  "ERROR: GetProcAddress failed, can not find nican.dll library or a method in "
                  "the dll\n");
        EXPECT_EQ(libraries.LoadedCount(), 0);
        ExpectEveryOperation108(card);
        EXPECT_TRUE(fake.Calls().empty());
    }
}

}  // namespace
}  // namespace orv::test
