#include "pccard/UsbLight.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FakeCanApi.h"
#include "FakeLibraryOpener.h"
#include "platform/Console.h"
#include "support/FakeClock.h"

namespace orv::test {
namespace {

using Calls = std::vector<std::string>;

const char* const kEntryPoints[] = {
    "ca_InitApi_1",         "ca_ResetCanCard_1",    "ca_InitCanCard_1",
    "ca_TransmitCanCard_1", "ca_GetData_1",         "ca_ResetSoftwareFilterMask_1",
    "ca_SetAllId_1",        "ca_SetFilterId_1",     "ca_Instruction_1",
    "ca_GetCharData_1",     "ca_GetCharCplxData_1", "ca_ClearFifo_1",
    "ca_SetFilterVar_1",    "ca_CloseApi"};
const Calls kInitCard = {
    "ca_ResetCanCard_1", "ca_Instruction_1 b3,0,0,0,0,3,d0,90",
    "ca_InitCanCard_1 1,0,0,0 [0,0,0,0,ff,ff,ff,ff,0,0,0,0,ff,ff,ff,ff] c9,3e,0,0,0"};

// Waits (bounded) until the condition holds; the driver's thread works at its own pace.
template <typename Condition>
bool Eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class UsbLightTest : public ::testing::Test {
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
    // True once the driver's thread is seen asking the library for data.
    bool Polling() {
        const int before = fake.getDataCalls;
        return Eventually([&] { return fake.getDataCalls > before + 2; });
    }

    FakeClock clock;
    FakeLibraryOpener libraries;
    FakeCanApi fake;
    bool provided = (libraries.Provide("CANAPI.DLL", fake.Table()), true);
    USBLight card;
};

TEST_F(UsbLightTest, StartsTheApiLooksUpAllFourteenAndInitialisesTheCardAtOpen) {
    EXPECT_EQ(libraries.Requests(), Calls{"CANAPI.DLL"});
    EXPECT_EQ(libraries.Lookups(), Calls(std::begin(kEntryPoints), std::end(kEntryPoints)));
    EXPECT_EQ(fake.Calls(), Calls{"ca_InitApi_1 1000b,300"});
    fake.ClearCalls();
    EXPECT_EQ(card.Open(), 0);
    EXPECT_EQ(fake.Calls(), kInitCard);
}

TEST_F(UsbLightTest, ReceptionRunsOnlyBetweenOpenAndClose) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(fake.getDataCalls, 0);
    OpenCard();
    EXPECT_TRUE(Polling());
    fake.Queue({UsbFrame(0x192, {1})});
    EXPECT_EQ(ReadOne().data[0], 1);

    EXPECT_EQ(card.Close(), 0);
    EXPECT_EQ(clock.Sleeps(), std::vector<uint32_t>{100});
    // The fake clock skipped the pause that lets a pass under way finish; take it for real.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const int afterClose = fake.getDataCalls;
    fake.Queue({UsbFrame(0x192, {2})});
    CanCardFrame frame;
    EXPECT_EQ(card.Read(&frame, 30), CARD_ERR_TIMEOUT);
    EXPECT_EQ(fake.getDataCalls, afterClose);
    EXPECT_EQ(fake.Queued(), 1u);
}

TEST_F(UsbLightTest, FramesComeOutInOrderAndOtherRecordsAreIgnored) {
    OpenCard();
    canapi::ReceiveRecord tooLong = UsbFrame(0x194, {1, 2, 3, 4, 5, 6, 7, 8});
    tooLong.lengthWord = 0x0F;
    fake.Queue({UsbFrame(0x7001, {9, 9}, 0x7002), UsbFrame(0xABC192, {1, 2, 3, 4, 5, 6, 7, 8}),
                UsbFrame(0x193, {}), UsbFrame(0x192, {1}, 0x0001), tooLong});
    CanCardFrame frame = ReadOne();
    EXPECT_EQ(frame.id, 0xC192u);  // the low 16 bits of the record's word
    EXPECT_EQ(frame.length, 8u);
    EXPECT_EQ(frame.data[0], 1);
    EXPECT_EQ(frame.data[7], 8);
    frame = ReadOne();
    EXPECT_EQ(frame.id, 0x193u);
    EXPECT_EQ(frame.length, 0u);
    frame = ReadOne();
    EXPECT_EQ(frame.id, 0x194u);
    EXPECT_EQ(frame.length, 8u);
    EXPECT_EQ(card.Read(&frame, 0), CARD_ERR_TIMEOUT);
}

TEST_F(UsbLightTest, RecordsOfOtherTypesDoNotWakeAReader) {
    OpenCard();
    fake.Queue({UsbFrame(0x192, {1}, 0x7002), UsbFrame(0x192, {1}, 0)});
    CanCardFrame frame;
    EXPECT_EQ(card.Read(&frame, 50), CARD_ERR_TIMEOUT);
    EXPECT_EQ(fake.Queued(), 0u);
}

TEST_F(UsbLightTest, AReaderFullyBehindLosesItsOldestUnreadFrameToTheNewest) {
    OpenCard();
    std::vector<canapi::ReceiveRecord> records;
    for (uint32_t i = 0; i < 257; ++i) {
        records.push_back(UsbFrame(i, {static_cast<uint8_t>(i)}));
    }
    fake.Queue(records);
    ASSERT_TRUE(Eventually([&] { return fake.Queued() == 0; }));
    EXPECT_EQ(ReadOne().id, 256u);
    for (uint32_t i = 1; i < 256; ++i) {
        ASSERT_EQ(ReadOne().id, i);
    }
    CanCardFrame frame;
    EXPECT_EQ(card.Read(&frame, 0), CARD_ERR_TIMEOUT);
}

TEST_F(UsbLightTest, ReaderAndReceiveThreadMeetWithoutLosingFrames) {
    OpenCard();
    constexpr uint32_t kFrames = 1000;
    constexpr uint32_t kMaxAhead = 150;  // the library never gets a full ring ahead
    std::atomic<uint32_t> taken{0};
    std::thread producer([this, &taken] {
        for (uint32_t i = 0; i < kFrames; i += 50) {
            Eventually([&] { return i < taken + kMaxAhead; });
            std::vector<canapi::ReceiveRecord> batch;
            for (uint32_t j = i; j < i + 50; ++j) {
                batch.push_back(
                    UsbFrame(0x192, {static_cast<uint8_t>(j), static_cast<uint8_t>(j >> 8)}));
            }
            fake.Queue(batch);
        }
    });
    uint32_t inOrder = 0;
    for (; inOrder < kFrames; ++inOrder) {
        CanCardFrame frame;
        if (card.Read(&frame, 5000) != 0 ||
            static_cast<uint32_t>(frame.data[0] | (frame.data[1] << 8)) != inOrder) {
            break;
        }
        ++taken;
    }
    taken = kFrames;  // releases the producer whatever happened
    producer.join();
    EXPECT_EQ(inOrder, kFrames);
}

TEST_F(UsbLightTest, WriteHandsTheFrameOverOneByteAWord) {
    OpenCard();
    const uint8_t data[8] = {0x10, 0x02, 0x12, 0x34, 0x00, 0x09, 0xA1, 0xB2};
    EXPECT_EQ(card.Write(0x212, data, 8), 0);
    EXPECT_EQ(card.Write(0x000, data, 2), 0);
    const std::vector<canapi::TransmitRecord> sent = fake.Transmitted();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].id, 0x212u);
    EXPECT_EQ(sent[0].length, 8u);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(sent[0].data[i], data[i]);
    }
    EXPECT_EQ(sent[0].unused, 0u);
    EXPECT_EQ(sent[0].flags, 0u);
    EXPECT_EQ(sent[1].length, 2u);
    EXPECT_EQ(sent[1].data[2], 0u);
    EXPECT_TRUE(fake.Calls().empty());
}

// Time passes only when the driver yields, one millisecond at a time.
class YieldClock : public IClock {
  public:
    YieldClock() { SetClock(this); }
    ~YieldClock() override { SetClock(nullptr); }
    void SleepMs(uint32_t ms) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ms == 0 ? ++yields_ : sleptMs_ += ms;
        now_ += ms == 0 ? 1 : ms;
    }
    uint64_t NowMs() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return now_;
    }
    int Yields() {
        std::lock_guard<std::mutex> lock(mutex_);
        return yields_;
    }

  private:
    std::mutex mutex_;
    uint64_t now_ = 5000;
    uint64_t sleptMs_ = 0;
    int yields_ = 0;
};

TEST_F(UsbLightTest, ARefusedFrameIsRetriedFor100MsThen108) {
    OpenCard();
    YieldClock yieldClock;
    const uint8_t data[8] = {};
    fake.refuseTransmits = 3;
    EXPECT_EQ(card.Write(0x212, data, 8), 0);
    EXPECT_EQ(fake.transmitCalls, 4);
    EXPECT_EQ(yieldClock.Yields(), 3);

    fake.transmitCalls = 0;
    fake.refuseTransmits = -1;
    const uint64_t start = yieldClock.NowMs();
    EXPECT_EQ(card.Write(0x212, data, 8), CARD_ERR_NO_LIBRARY);
    EXPECT_EQ(yieldClock.NowMs() - start, 100u);
    EXPECT_EQ(fake.transmitCalls, 101);
}

TEST_F(UsbLightTest, ResetBeforeOpenInitialisesLikeOpen) {
    fake.ClearCalls();
    EXPECT_EQ(card.Reset(), 0);
    EXPECT_EQ(fake.Calls(), kInitCard);
    EXPECT_TRUE(clock.Sleeps().empty());
    EXPECT_TRUE(Polling());
    // Running: reception is switched off for 100 ms and the card initialised again.
    fake.ClearCalls();
    EXPECT_EQ(card.Reset(), 0);
    EXPECT_EQ(fake.Calls(), kInitCard);
    EXPECT_EQ(clock.Sleeps(), std::vector<uint32_t>{100});
    EXPECT_TRUE(Polling());
}

TEST_F(UsbLightTest, ACardThatRefusesInitialisationAnswers108) {
    struct Case {
        const char* name;
        std::atomic<canapi::Result> FakeCanApi::*result;
        size_t calls;
    };
    const Case cases[] = {{"reset", &FakeCanApi::resetResult, 1},
                          {"init", &FakeCanApi::initCardResult, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake.ClearCalls();
        fake.*c.result = 0;
        EXPECT_EQ(card.Open(), CARD_ERR_NO_LIBRARY);
        EXPECT_EQ(card.Reset(), CARD_ERR_NO_LIBRARY);
        EXPECT_EQ(fake.Calls().size(), 2 * c.calls);
        fake.*c.result = 1;
    }
    EXPECT_EQ(fake.getDataCalls, 0);
}

TEST(UsbLightLifetime, DestructionStopsTheThreadThenClosesTheApi) {
    FakeClock clock;
    FakeLibraryOpener libraries;
    FakeCanApi fake;
    libraries.Provide("CANAPI.DLL", fake.Table());
    {
        USBLight card;
        ASSERT_EQ(card.Open(), 0);
        fake.ClearCalls();
    }
    EXPECT_EQ(clock.Sleeps(), (std::vector<uint32_t>{100, 400}));
    EXPECT_EQ(fake.Calls(), Calls{"ca_CloseApi"});
    EXPECT_EQ(libraries.LoadedCount(), 0);
    const int calls = fake.getDataCalls;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(fake.getDataCalls, calls);
}

void ExpectEveryOperation108(USBLight& card) {
    CanCardFrame frame;
    const uint8_t data[8] = {};
    EXPECT_EQ(card.Open(), CARD_ERR_NO_LIBRARY);
    EXPECT_EQ(card.Write(0x212, data, 8), CARD_ERR_NO_LIBRARY);
    EXPECT_EQ(card.Read(&frame, 10), CARD_ERR_NO_LIBRARY);
    EXPECT_EQ(card.Reset(), CARD_ERR_NO_LIBRARY);
    EXPECT_EQ(card.Close(), CARD_ERR_NO_LIBRARY);
}

TEST(UsbLightWithoutLibrary, AnswersEverythingWith108Silently) {
    FakeClock clock;
    FakeLibraryOpener libraries;
    ConsoleCapture capture;
    {
        USBLight card;
        ExpectEveryOperation108(card);
    }
    EXPECT_EQ(capture.Text(), "");
    EXPECT_TRUE(clock.Sleeps().empty());
}

TEST(UsbLightWithoutLibrary, AMissingEntryPointUnloadsTheLibrary) {
    for (const char* missing : kEntryPoints) {
        SCOPED_TRACE(missing);
        FakeLibraryOpener libraries;
        FakeCanApi fake;
        libraries.Provide("CANAPI.DLL", fake.Table());
        libraries.RemoveEntryPoint("CANAPI.DLL", missing);
        ConsoleCapture capture;
        {
            USBLight card;
            EXPECT_EQ(libraries.LoadedCount(), 0);
            ExpectEveryOperation108(card);
        }
        EXPECT_EQ(capture.Text(), "");
        EXPECT_TRUE(fake.Calls().empty());
    }
}

TEST(UsbLightWithoutLibrary, ARefusedApiStartLeavesTheCardNotReady) {
    FakeClock clock;
    FakeLibraryOpener libraries;
    FakeCanApi fake;
    fake.initApiResult = 0;
    libraries.Provide("CANAPI.DLL", fake.Table());
    {
        USBLight card;
        ExpectEveryOperation108(card);
    }
    EXPECT_EQ(fake.Calls(), Calls{"ca_InitApi_1 1000b,300"});
    EXPECT_EQ(libraries.LoadedCount(), 0);
}

}  // namespace
}  // namespace orv::test
