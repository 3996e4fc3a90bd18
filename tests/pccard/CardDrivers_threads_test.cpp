// The NI-CAN and USB adapter drivers against fake libraries whose threads are real.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "os/Console.h"
#include "os/LibraryLoader.h"
#include "pccard/CanApi.h"
#include "pccard/NiCanApi.h"
#include "pccard/NiCanCard.h"
#include "pccard/UsbLight.h"
#include "support/FakeClock.h"

namespace orv::test {
namespace {

using Calls = std::vector<std::string>;
using Table = std::map<std::string, EntryPoint>;
using Frames = std::vector<std::pair<uint32_t, std::vector<uint8_t>>>;  // id and data each

// Waits (bounded) until the condition holds; a driver's thread works at its own pace.
bool Eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!condition() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

template <typename Function>
EntryPoint Entry(Function function) {
    return reinterpret_cast<EntryPoint>(+function);
}
template <typename T>
std::vector<uint32_t> Words(const T* record, size_t count = sizeof(T) / 4) {
    const auto* words = reinterpret_cast<const uint32_t*>(record);
    return {words, words + count};
}

// Stands in for the dynamic loader while alive: hands out in-process tables of entry points
// under Windows library names (an entry not in the table is one the driver never calls), and
// remembers what was asked for and what is still loaded.
class FakeLibraryOpener : public ILibraryOpener {
  public:
    FakeLibraryOpener() { SetLibraryOpener(this); }
    ~FakeLibraryOpener() override { SetLibraryOpener(nullptr); }
    // A library short of the entry point `missing`.
    void Provide(const std::string& name, Table table, const std::string& missing = "") {
        tables_[name] = {std::move(table), missing};
    }
    std::unique_ptr<LoadedLibrary> Open(const std::string& name) override {
        requests.push_back(name);
        const auto found = tables_.find(name);
        return found == tables_.end() ? nullptr : std::make_unique<Loaded>(*this, found->second);
    }

    Calls requests;  // libraries asked for, in order
    std::atomic<int> loaded{0};

  private:
    using Library = std::pair<Table, std::string>;
    struct Loaded : LoadedLibrary {
        Loaded(FakeLibraryOpener& owner, Library library) : owner(owner), library(library) {
            ++owner.loaded;
        }
        ~Loaded() override { --owner.loaded; }
        EntryPoint Find(const char* name) const override {
            const auto found = library.first.find(name);
            return name == library.second         ? nullptr
                   : found != library.first.end() ? found->second
                                                  : Entry([] { ADD_FAILURE() << "never called"; });
        }
        FakeLibraryOpener& owner;
        Library library;
    };
    std::map<std::string, Library> tables_;
};

// What both fake libraries share: each call recorded as its name and arguments in hex, and
// answered with the result a test set for that entry point.
class FakeLibrary {
  public:
    virtual ~FakeLibrary() = default;
    virtual Table Entries() const = 0;
    // Hands the frames to the driver as the library does, returning once it has them all.
    virtual void Hand(const Frames& frames) = 0;

    template <typename... Args>
    int Call(const std::string& entry, int result, const Args&... args) {
        std::string text = entry;
        ((text += (text.size() == entry.size() ? " " : ",") + Text(args)), ...);
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(text);
        const auto set = results_.find(entry);
        return set == results_.end() ? result : set->second;
    }
    Calls TakeCalls() {  // and forgets them
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(calls_, {});
    }
    void Set(const std::string& entry, int result) {
        std::lock_guard<std::mutex> lock(mutex_);
        results_[entry] = result;
    }

    static std::string Text(const char* text) { return text; }
    static std::string Text(const void* pointer) { return pointer ? "ref" : "null"; }
    static std::string Text(uint32_t value) {
        char text[16];
        std::snprintf(text, sizeof text, "%x", value);
        return text;
    }
    template <typename T>
    static std::string Text(const std::vector<T>& values) {
        std::string text = "[";
        for (const T& value : values) {
            text += (text.size() == 1 ? "" : ",") + Text(uint32_t{value});
        }
        return text + "]";
    }

  protected:
    std::mutex mutex_;

  private:
    Calls calls_;
    std::map<std::string, int> results_;
};

// An NI-CAN library: the registered notification runs on threads of the library.
class FakeNiCan : public FakeLibrary {
  public:
    static constexpr nican::Handle kHandle = 0x5A17;
    static constexpr const char* kLibrary = "nican.dll";
    static inline FakeNiCan* current = nullptr;

    FakeNiCan() { current = this; }
    ~FakeNiCan() override { current = nullptr; }
    Table Entries() const override;
    void Hand(const Frames& frames) override {
        std::async(std::launch::async, [&] {
            for (const auto& [id, data] : frames) {
                nican::TimedFrame frame;
                frame.arbitrationId = id;
                frame.dataLength = static_cast<uint8_t>(data.size());
                std::copy(data.begin(), data.end(), frame.data);
                Deliver(nican::kStateReadAvailable, &frame);
            }
        }).wait();
    }
    // On the calling thread: hands the frame (if any) to ncRead and runs the notification.
    nican::State Deliver(nican::State state, const nican::TimedFrame* frame = nullptr) {
        nican::NotifyCallback callback;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (frame != nullptr) {
                pending_.push_back(*frame);
            }
            callback = callback_;
        }
        return callback != nullptr ? callback(kHandle, state, 0, nullptr) : 0;
    }
    // On a thread of the library, returning when done.
    nican::State Notify(nican::State state) {
        return std::async(std::launch::async, [&] { return Deliver(state); }).get();
    }

    std::atomic<bool> acknowledgeWrites{true};  // a write-success after each ncWrite
    std::deque<nican::TimedFrame> pending_;
    nican::NotifyCallback callback_ = nullptr;
};
FakeNiCan& Ni() {
    return *FakeNiCan::current;
}

Table FakeNiCan::Entries() const {
    using nican::Handle;
    return {
        {"ncConfig",
         Entry([](const char* name, uint32_t count, const uint32_t* ids, const uint32_t* values) {
             return Ni().Call("ncConfig", 0, name, Words(ids, count), Words(values, count));
         })},
        {"ncOpenObject", Entry([](const char* name, Handle* object) {
             *object = kHandle;
             return Ni().Call("ncOpenObject", 0, name);
         })},
        {"ncCloseObject",
         Entry([](Handle object) { return Ni().Call("ncCloseObject", 0, object); })},
        {"ncRead", Entry([](Handle object, uint32_t size, void* data) {
             Ni().Call("ncRead", 0, object, size);
             std::lock_guard<std::mutex> lock(Ni().mutex_);
             if (Ni().pending_.empty() || size < sizeof(nican::TimedFrame)) {
                 return -1;
             }
             std::memcpy(data, &Ni().pending_.front(), sizeof(nican::TimedFrame));
             Ni().pending_.pop_front();
             return 0;
         })},
        {"ncWrite", Entry([](Handle object, uint32_t size, const void* data) {
             const auto* bytes = static_cast<const uint8_t*>(data);
             const int status =
                 Ni().Call("ncWrite", 0, object, size, std::vector<uint8_t>(bytes, bytes + size));
             if (status == 0 && Ni().acknowledgeWrites) {
                 Ni().Notify(nican::kStateWriteSuccess);
             }
             return status;
         })},
        {"ncReset", Entry([](const char* name, uint32_t parameter) {
             return Ni().Call("ncReset", 0, name, parameter);
         })},
        {"ncCreateNotification", Entry([](Handle object, nican::State states, uint32_t timeoutMs,
                                          void* refData, nican::NotifyCallback callback) {
             const int status =
                 Ni().Call("ncCreateNotification", 0, object, states, timeoutMs, refData);
             std::lock_guard<std::mutex> lock(Ni().mutex_);
             Ni().callback_ = status == 0 ? callback : Ni().callback_;
             return status;
         })},
        {"ncAction", Entry([](Handle object, uint32_t operation, uint32_t parameter) {
             return Ni().Call("ncAction", 0, object, operation, parameter);
         })}};
}

canapi::ReceiveRecord UsbFrame(uint32_t id, std::vector<uint8_t> data,
                               uint32_t type = canapi::kRecordCanFrame) {
    canapi::ReceiveRecord record;
    record.type = type;
    record.id = id;
    record.lengthWord = 0xA0 | static_cast<uint32_t>(data.size());  // upper bits are not ours
    for (size_t i = 0; i < data.size(); ++i) {
        record.data[i] = 0xFF00 | data[i];
    }
    return record;
}

// The USB adapter's library: records ca_TransmitCanCard_1 only when it accepts, counts it and
// ca_GetData_1, and hands out the records a test queues.
class FakeCanApi : public FakeLibrary {
  public:
    static constexpr const char* kLibrary = "CANAPI.DLL";
    static inline FakeCanApi* current = nullptr;

    FakeCanApi() { current = this; }
    ~FakeCanApi() override { current = nullptr; }
    Table Entries() const override;
    void Hand(const Frames& frames) override {
        std::vector<canapi::ReceiveRecord> records;
        for (const auto& [id, data] : frames) {
            records.push_back(UsbFrame(id, data));
        }
        Queue(records);
        EXPECT_TRUE(Eventually([this] { return Queued() == 0; }));
    }
    // Queued at once, so the driver's thread takes them in one pass.
    void Queue(const std::vector<canapi::ReceiveRecord>& records) {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.insert(queue_.end(), records.begin(), records.end());
    }
    size_t Queued() {
        std::lock_guard<std::mutex> lock(mutex_);
        return queue_.size();
    }

    std::atomic<int> refuseTransmits{0};  // refusals before accepting again (-1: all)
    std::atomic<int> transmitCalls{0}, getDataCalls{0};
    std::deque<canapi::ReceiveRecord> queue_;
};
FakeCanApi& Usb() {
    return *FakeCanApi::current;
}

Table FakeCanApi::Entries() const {
    return {{"ca_InitApi_1", Entry([](uint32_t version, uint32_t bufferSize) {
                 return Usb().Call("ca_InitApi_1", 1, version, bufferSize);
             })},
            {"ca_ResetCanCard_1", Entry([] { return Usb().Call("ca_ResetCanCard_1", 1); })},
            {"ca_InitCanCard_1", Entry([](uint32_t card, uint32_t mode, uint32_t t0, uint32_t t1,
                                          const canapi::FilterBlock* filters, uint32_t rx,
                                          uint32_t tx, uint32_t r0, uint32_t r1, uint32_t r2) {
                 return Usb().Call("ca_InitCanCard_1", 1, card, mode, t0, t1, Words(filters), rx,
                                   tx, r0, r1, r2);
             })},
            {"ca_TransmitCanCard_1",
             Entry([](uint32_t card, uint32_t flags, const canapi::TransmitRecord* record) {
                 ++Usb().transmitCalls;
                 const int refusals = Usb().refuseTransmits;
                 if (refusals != 0) {
                     Usb().refuseTransmits -= refusals > 0 ? 1 : 0;
                     return 0;
                 }
                 return Usb().Call("ca_TransmitCanCard_1", 1, card, flags, Words(record));
             })},
            // Like a library whose records are longer than the fields we know: the whole
            // buffer the driver promises is written.
            {"ca_GetData_1", Entry([](uint8_t* buffer) {
                 ++Usb().getDataCalls;
                 std::lock_guard<std::mutex> lock(Usb().mutex_);
                 if (Usb().queue_.empty()) {
                     return 0;
                 }
                 std::fill_n(buffer, canapi::kReceiveBufferBytes, 0xEE);
                 std::memcpy(buffer, &Usb().queue_.front(), sizeof(canapi::ReceiveRecord));
                 Usb().queue_.pop_front();
                 return 1;
             })},
            {"ca_Instruction_1", Entry([](const canapi::InstructionRecord* record) {
                 return Usb().Call("ca_Instruction_1", 0, Words(record));
             })},
            {"ca_CloseApi", Entry([] { return Usb().Call("ca_CloseApi", 1); })}};
}

// The next `count` frames as "id,length,[data]" in hex, up to the first failed Read.
Calls ReadFrames(CCanCard& card, int count, uint32_t timeoutMs = 2000) {
    Calls frames;
    CanCardFrame frame;
    for (int i = 0; i < count && card.Read(&frame, timeoutMs) == 0; ++i) {
        frames.push_back(FakeLibrary::Text(frame.id) + "," + FakeLibrary::Text(frame.length) + "," +
                         FakeLibrary::Text(std::vector<uint8_t>(
                             frame.data, frame.data + std::min(frame.length, 8u))));
    }
    return frames;
}

const std::string kConfig =
    "ncConfig CAN0,[80000007,80000006,80000013,80000014,80010001,80010002,80010003,80010004],"
    "[3d090,1,64,14,0,0,0,0]";
const Calls kNiOpen = {kConfig, "ncOpenObject CAN0", "ncCreateNotification 5a17,7,ffffffff,null"};
const Calls kNiClose = {"ncAction 5a17,80000003,0", "ncCloseObject 5a17"};
const Calls kInitCard = {
    "ca_ResetCanCard_1", "ca_Instruction_1 [b3,0,0,0,0,3,d0,90]",
    "ca_InitCanCard_1 1,0,0,0,[0,0,0,0,ff,ff,ff,ff,0,0,0,0,ff,ff,ff,ff],c9,3e,0,0,0"};
const Calls kStartApi = {"ca_InitApi_1 1000b,300"};

// What sets the two drivers apart in the behaviour they share.
struct Driver {
    const char* name;
    const char* library;
    std::function<std::unique_ptr<FakeLibrary>()> fake;
    std::function<std::unique_ptr<CCanCard>()> card;
    const char* anEntry;  // one the driver cannot do without
    Calls atStart, atOpen, atClose, atDestruction;
    std::vector<uint32_t> closeSleeps, destructionSleeps;
    std::string noLibrary, noEntry;  // what the driver prints
    std::string firstAfterOverflow;  // NI-CAN drops the newest frame, the USB adapter the oldest
    const char* refusedAtStart;
};

void PrintTo(const Driver& driver, std::ostream* out) {
    *out << driver.name;
}

// One driver a row.
// clang-format off
const Driver kDrivers[] = {
    {"NiCan", "nican.dll", [] { return std::make_unique<FakeNiCan>(); },
     [] { return std::make_unique<CNiCanCard>(); }, "ncAction", {}, kNiOpen, kNiClose, kNiClose,
     {300}, {300}, "ERROR: Can not load nican.dll library\n",
     "ERROR: GetProcAddress failed, can not find nican.dll library or a method in the dll\n",
     "192,8,[1,2,3,4,5,6,7,8]", nullptr},
    {"UsbLight", "CANAPI.DLL", [] { return std::make_unique<FakeCanApi>(); },
     [] { return std::make_unique<USBLight>(); }, "ca_SetFilterVar_1", kStartApi, kInitCard, {},
     {"ca_CloseApi"}, {100}, {100, 400}, "", "", "100,0,[]", "ca_InitApi_1"},
};
// clang-format on

class CardDriverTest : public testing::TestWithParam<Driver> {
  protected:
    void OpenCard() {
        ASSERT_EQ(card->Open(), 0);
        fake->TakeCalls();
    }

    FakeClock clock;
    FakeLibraryOpener libraries;
    std::unique_ptr<FakeLibrary> fake = GetParam().fake();
    bool provided = (libraries.Provide(GetParam().library, fake->Entries()), true);
    std::unique_ptr<CCanCard> card = GetParam().card();
};

TEST_P(CardDriverTest, OpensClosesAndUnloads) {
    const Driver& d = GetParam();
    EXPECT_EQ(libraries.requests, Calls{d.library});
    EXPECT_EQ(fake->TakeCalls(), d.atStart);
    EXPECT_EQ(card->Open(), 0);
    EXPECT_EQ(fake->TakeCalls(), d.atOpen);
    EXPECT_EQ(card->Close(), 0);
    EXPECT_EQ(fake->TakeCalls(), d.atClose);
    EXPECT_EQ(clock.Sleeps(), d.closeSleeps);

    card.reset();  // a fresh card, destroyed while open
    card = d.card();
    OpenCard();
    const size_t slept = clock.Sleeps().size();
    card.reset();
    EXPECT_EQ(fake->TakeCalls(), d.atDestruction);
    const std::vector<uint32_t> sleeps = clock.Sleeps();
    EXPECT_EQ(std::vector<uint32_t>(sleeps.begin() + slept, sleeps.end()), d.destructionSleeps);
    EXPECT_EQ(libraries.loaded, 0);
}

// Frames come out in order, zero length included, until the 257th finds the ring full; the last
// read, of an empty ring, answers without waiting.
TEST_P(CardDriverTest, AFullRingLosesOneFrameOfTheTwoHundredAndFiftySeventh) {
    OpenCard();
    Frames frames = {{0x192, {1, 2, 3, 4, 5, 6, 7, 8}}, {0x193, {}}, {0x0, {0x80, 0x12}}};
    for (uint32_t i = 3; i < 257; ++i) {
        frames.push_back({i, {}});
    }
    fake->Hand(frames);
    const Calls kept = ReadFrames(*card, 257, 0);
    ASSERT_EQ(kept.size(), 256u);
    EXPECT_EQ(kept.front(), GetParam().firstAfterOverflow);
    EXPECT_EQ(Calls(kept.begin() + 1, kept.begin() + 3), (Calls{"193,0,[]", "0,2,[80,12]"}));
    EXPECT_EQ(kept.back(), "ff,0,[]");
    if (GetParam().library == std::string("nican.dll")) {  // room again, kept
        fake->Hand({{0x300, {}}});
        EXPECT_EQ(ReadFrames(*card, 1), Calls{"300,0,[]"});
    }
}

TEST_P(CardDriverTest, ReaderAndLibraryThreadMeetWithoutLosingFrames) {
    OpenCard();
    constexpr uint32_t kFrames = 1000, kMaxAhead = 150;  // never a full ring ahead
    std::atomic<uint32_t> taken{0};
    std::thread library([&] {
        for (uint32_t i = 0; i < kFrames; i += 50) {
            Eventually([&] { return i < taken + kMaxAhead; });
            Frames batch;
            for (uint32_t j = i; j < i + 50; ++j) {
                batch.push_back({0x192, {uint8_t(j), uint8_t(j >> 8)}});
            }
            fake->Hand(batch);
        }
    });
    uint32_t inOrder = 0;
    for (CanCardFrame frame; inOrder < kFrames; ++inOrder, ++taken) {
        if (card->Read(&frame, 5000) != 0 ||
            (frame.data[0] | (frame.data[1] << 8)) != int(inOrder)) {
            break;
        }
    }
    taken = kFrames;  // releases the library whatever happened
    library.join();
    EXPECT_EQ(inOrder, kFrames);
}

INSTANTIATE_TEST_SUITE_P(Drivers, CardDriverTest, testing::ValuesIn(kDrivers),
                         [](const auto& driver) { return std::string(driver.param.name); });

class CardDriverWithoutLibrary : public testing::TestWithParam<Driver> {};

TEST_P(CardDriverWithoutLibrary, SaysWhatIsMissingUnloadsAndAnswers108) {
    const Driver& d = GetParam();
    Calls cases = {d.anEntry, "no library"};
    if (d.refusedAtStart != nullptr) {
        cases.push_back("refused start");
    }
    for (const std::string& missing : cases) {
        SCOPED_TRACE(missing);
        FakeClock clock;
        FakeLibraryOpener libraries;
        const auto fake = d.fake();
        if (missing == "refused start") {
            fake->Set(d.refusedAtStart, 0);
        }
        if (missing != "no library") {
            libraries.Provide(d.library, fake->Entries(), missing);
        }
        ConsoleCapture capture;
        {
            const auto card = d.card();
            EXPECT_EQ(capture.Text(), missing == "no library"      ? d.noLibrary
                                      : missing == "refused start" ? ""
                                                                   : d.noEntry);
            EXPECT_EQ(libraries.loaded, missing == "refused start" ? 1 : 0);
            CanCardFrame frame;
            EXPECT_EQ((std::vector<int>{card->Open(), card->Write(0x212, nullptr, 0),
                                        card->Read(&frame, 10), card->Reset(), card->Close()}),
                      std::vector<int>(5, CARD_ERR_NO_LIBRARY));
        }
        EXPECT_EQ(libraries.loaded, 0);
        EXPECT_TRUE(clock.Sleeps().empty());
        EXPECT_EQ(fake->TakeCalls(), missing == "refused start" ? kStartApi : Calls{});
    }
}

INSTANTIATE_TEST_SUITE_P(Drivers, CardDriverWithoutLibrary, testing::ValuesIn(kDrivers),
                         [](const auto& driver) { return std::string(driver.param.name); });

template <typename Fake, typename Card>
class CardFixture : public testing::Test {
  protected:
    void OpenCard() {
        ASSERT_EQ(card->Open(), 0);
        fake.TakeCalls();
    }
    // True once the USB adapter's thread is seen asking the library for data.
    bool Polling() {
        const int before = fake.getDataCalls;
        return Eventually([&] { return fake.getDataCalls > before + 2; });
    }

    FakeClock clock;
    FakeLibraryOpener libraries;
    Fake fake;
    bool provided = (libraries.Provide(Fake::kLibrary, fake.Entries()), true);
    std::unique_ptr<Card> card = std::make_unique<Card>();
};
using NiCanCardTest = CardFixture<FakeNiCan, CNiCanCard>;
using UsbLightTest = CardFixture<FakeCanApi, USBLight>;
TEST_F(NiCanCardTest, PassesLibraryStatusesThroughOrAnswers107) {
    const std::function<int()> open = [&] { return card->Open(); };
    const std::function<int()> reset = [&] { return card->Reset(); };
    const struct {
        const char* entry;
        nican::Status status;
        std::function<int()> operation;
        int expected;
        Calls calls;
    } cases[] = {
        {"ncConfig", -1074388983, open, -1074388983, {kConfig}},
        {"ncCreateNotification", -1074388000, open, CARD_ERR_DRIVER, kNiOpen},
        {"ncReset", -1074388000, reset, CARD_ERR_DRIVER, {"ncReset CAN0,0"}},
        {"ncCloseObject", -1, [&] { return card->Close(); }, CARD_ERR_DRIVER, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        fake.Set(c.entry, c.status);
        if (c.calls.empty()) {
            OpenCard();
        }
        EXPECT_EQ(c.operation(), c.expected);
        EXPECT_EQ(fake.TakeCalls(), c.calls.empty() ? kNiClose : c.calls);
        fake.Set(c.entry, 0);
    }
}

TEST_F(NiCanCardTest, WriteSendsThe14ByteFrameAndWaitsForWriteSuccess) {
    OpenCard();
    const uint8_t data[8] = {0x50, 1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(card->Write(0x212, data, 8), 0);
    EXPECT_EQ(card->Write(0x000, data, 2), 0);
    EXPECT_EQ(card->Write(0x7FF, nullptr, 0), 0);
    EXPECT_EQ(fake.TakeCalls(), (Calls{"ncWrite 5a17,e,[12,2,0,0,0,8,50,1,2,3,4,5,6,7]",
                                       "ncWrite 5a17,e,[0,0,0,0,0,2,50,1,0,0,0,0,0,0]",
                                       "ncWrite 5a17,e,[ff,7,0,0,0,0,0,0,0,0,0,0,0,0]"}));

    fake.acknowledgeWrites = false;
    EXPECT_EQ(card->Write(0x212, data, 8), CARD_ERR_TIMEOUT);
    fake.Set("ncWrite", -1074388985);
    EXPECT_EQ(card->Write(0x212, data, 8), CARD_ERR_DRIVER);
}

TEST_F(NiCanCardTest, NotificationServesOneStateAndAnswersWithItsBits) {
    OpenCard();
    EXPECT_EQ(fake.Notify(nican::kStateReadAvailable), nican::kStateReadAvailable);
    EXPECT_EQ(fake.TakeCalls(), Calls{"ncRead 5a17,16"});  // nothing to read: nothing stored
    EXPECT_TRUE(ReadFrames(*card, 1, 0).empty());

    // Both bits: only the read is served, so the write success is not seen; alone it is.
    fake.acknowledgeWrites = false;
    EXPECT_EQ(fake.Notify(nican::kStateReadAvailable | nican::kStateWriteSuccess), 3u);
    EXPECT_EQ(card->Write(0x212, nullptr, 0), CARD_ERR_TIMEOUT);
    EXPECT_EQ(fake.Notify(nican::kStateWriteSuccess), nican::kStateWriteSuccess);
    EXPECT_EQ(card->Write(0x212, nullptr, 0), 0);

    // Stopped: nothing is done and no further notification is wanted.
    fake.TakeCalls();
    EXPECT_EQ(fake.Notify(nican::kStateStopped | nican::kStateReadAvailable), 0u);
    EXPECT_TRUE(fake.TakeCalls().empty());
}

TEST_F(NiCanCardTest, AfterCloseNotificationsAreRefusedAndReadTimesOutOnceEmpty) {
    OpenCard();
    fake.Hand({{0x192, {1}}});
    EXPECT_EQ(card->Close(), 0);
    fake.TakeCalls();
    EXPECT_EQ(fake.Notify(nican::kStateReadAvailable), 0u);
    fake.Hand({{0x192, {2}}});
    EXPECT_TRUE(fake.TakeCalls().empty());
    EXPECT_EQ(ReadFrames(*card, 2, 20), Calls{"192,1,[1]"});
}

TEST_F(UsbLightTest, ReceptionRunsOnlyBetweenOpenAndClose) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(fake.getDataCalls, 0);
    OpenCard();
    EXPECT_TRUE(Polling());
    fake.Queue({UsbFrame(0x192, {1})});
    EXPECT_EQ(ReadFrames(*card, 1), Calls{"192,1,[1]"});

    EXPECT_EQ(card->Close(), 0);
    EXPECT_EQ(clock.Sleeps(), std::vector<uint32_t>{100});
    // The fake clock skipped the pause that lets a pass under way finish; take it for real.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const int afterClose = fake.getDataCalls;
    fake.Queue({UsbFrame(0x192, {2})});
    EXPECT_TRUE(ReadFrames(*card, 1, 30).empty());
    EXPECT_EQ(fake.getDataCalls, afterClose);
    EXPECT_EQ(fake.Queued(), 1u);
}

TEST_F(UsbLightTest, FramesComeOutInOrderAndOtherRecordsAreIgnored) {
    OpenCard();
    canapi::ReceiveRecord tooLong = UsbFrame(0x194, {1, 2, 3, 4, 5, 6, 7, 8});
    tooLong.lengthWord = 0x0F;
    fake.Queue({UsbFrame(0x7001, {9, 9}, 0x7002), UsbFrame(0xABC192, {1, 2, 3, 4, 5, 6, 7, 8}),
                UsbFrame(0x193, {}), UsbFrame(0x192, {1}, 0x0001), UsbFrame(0x192, {1}, 0),
                tooLong});
    // The id is the low 16 bits of the record's word; a length over 8 is cut to 8.
    EXPECT_EQ(ReadFrames(*card, 4, 200),
              (Calls{"c192,8,[1,2,3,4,5,6,7,8]", "193,0,[]", "194,8,[1,2,3,4,5,6,7,8]"}));
    EXPECT_EQ(fake.Queued(), 0u);
}

// Time passes only when the driver yields, one millisecond at a time.
class YieldClock : public IClock {
  public:
    YieldClock() { SetClock(this); }
    ~YieldClock() override { SetClock(nullptr); }
    void SleepMs(uint32_t ms) override {
        yields += ms == 0;
        now += ms == 0 ? 1 : ms;
    }
    uint64_t NowMs() override { return now; }
    std::atomic<uint64_t> now{5000};
    std::atomic<int> yields{0};
};

TEST_F(UsbLightTest, WriteHandsTheFrameOverOneByteAWordRetryingARefusalFor100Ms) {
    OpenCard();
    const uint8_t data[8] = {0x10, 0x02, 0x12, 0x34, 0x00, 0x09, 0xA1, 0xB2};
    EXPECT_EQ(card->Write(0x212, data, 8), 0);
    EXPECT_EQ(card->Write(0x000, data, 2), 0);
    // The unused word and the flags stay 0.
    EXPECT_EQ(fake.TakeCalls(), (Calls{"ca_TransmitCanCard_1 1,0,[212,8,10,2,12,34,0,9,a1,b2,0,0]",
                                       "ca_TransmitCanCard_1 1,0,[0,2,10,2,0,0,0,0,0,0,0,0]"}));

    YieldClock yieldClock;
    fake.transmitCalls = 0;
    fake.refuseTransmits = 3;
    EXPECT_EQ(card->Write(0x212, data, 8), 0);
    EXPECT_EQ(fake.transmitCalls, 4);
    EXPECT_EQ(yieldClock.yields, 3);

    fake.transmitCalls = 0;
    fake.refuseTransmits = -1;
    const uint64_t start = yieldClock.now;
    EXPECT_EQ(card->Write(0x212, data, 8), CARD_ERR_NO_LIBRARY);
    EXPECT_EQ(yieldClock.now - start, 100u);
    EXPECT_EQ(fake.transmitCalls, 101);
}

TEST_F(UsbLightTest, ResetBeforeOpenInitialisesLikeOpenAndWhileRunningPausesReception) {
    fake.TakeCalls();
    EXPECT_EQ(card->Reset(), 0);
    EXPECT_EQ(fake.TakeCalls(), kInitCard);
    EXPECT_TRUE(clock.Sleeps().empty());
    EXPECT_TRUE(Polling());
    EXPECT_EQ(card->Reset(), 0);
    EXPECT_EQ(fake.TakeCalls(), kInitCard);
    EXPECT_EQ(clock.Sleeps(), std::vector<uint32_t>{100});
    EXPECT_TRUE(Polling());
}

TEST_F(UsbLightTest, ACardThatRefusesInitialisationAnswers108) {
    fake.TakeCalls();
    fake.Set("ca_InitCanCard_1", 0);
    EXPECT_EQ(card->Open(), CARD_ERR_NO_LIBRARY);
    EXPECT_EQ(card->Reset(), CARD_ERR_NO_LIBRARY);
    EXPECT_EQ(fake.TakeCalls().size(), 2 * kInitCard.size());  // as far as the refusal, twice
    EXPECT_EQ(fake.getDataCalls, 0);
}

}  // namespace
}  // namespace orv::test
