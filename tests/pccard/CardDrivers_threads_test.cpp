// The card drivers and the PC card transport against one fake of the libraries and the card: it
// logs every call and pause as a line of text and answers from a script.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "os/Clock.h"
#include "os/Console.h"
#include "os/LibraryLoader.h"
#include "pccard/NiCanCard.h"
#include "pccard/PcCommAdapter.h"
#include "pccard/UsbLight.h"
#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace orv::test {
namespace {

using Log = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

template <typename T>
std::string Hex(const T* values, size_t count) {
    std::ostringstream out;
    for (size_t i = 0; i < count; ++i) {
        out << (i == 0 ? "" : ",") << std::hex << uint32_t{values[i]};
    }
    return out.str();
}
std::string Hex(std::initializer_list<uint32_t> values) {
    return Hex(values.begin(), values.size());
}
template <typename Record>
std::string Words(const Record* record) {
    return "[" + Hex(reinterpret_cast<const uint32_t*>(record), sizeof(Record) / 4) + "]";
}

// The libraries' side of every test: the log, the script (entry point -> answers, the last one
// repeating) and the records the library hands out next.
class Library {
  public:
    int Call(const std::string& entry, const std::string& args, int success) {
        {
            std::lock_guard lock(mutex_);
            log_.push_back(args.empty() ? entry : entry + " " + args);
        }
        return Answer(entry, success);
    }
    int Answer(const std::string& entry, int success) {
        std::lock_guard lock(mutex_);
        std::deque<int>& answers = script_[entry];
        const int answer = answers.empty() ? success : answers.front();
        if (answers.size() > 1) {
            answers.pop_front();
        }
        return answer;
    }
    Log Take() {
        std::lock_guard lock(mutex_);
        return std::exchange(log_, {});
    }
    void Script(const std::string& entry, std::deque<int> answers) {
        std::lock_guard lock(mutex_);
        script_[entry] = std::move(answers);
    }
    template <typename Record>
    void Push(const Record& record) {
        std::lock_guard lock(mutex_);
        pending_.emplace_back(reinterpret_cast<const uint8_t*>(&record),
                              reinterpret_cast<const uint8_t*>(&record) + sizeof record);
    }
    // The next record, in a buffer longer than the fields we know; false, counted, when none.
    bool Next(void* buffer, size_t capacity) {
        std::lock_guard lock(mutex_);
        if (pending_.empty()) {
            return !++emptyAnswers;
        }
        std::memset(buffer, 0xEE, capacity);
        std::memcpy(buffer, pending_.front().data(), std::min(capacity, pending_.front().size()));
        pending_.pop_front();
        return true;
    }
    void Reset() {
        std::lock_guard lock(mutex_);
        log_.clear(), script_.clear(), pending_.clear(), callback = nullptr;
    }

    std::atomic<int> emptyAnswers{0};
    std::atomic<nican::NotifyCallback> callback{nullptr};

  private:
    std::mutex mutex_;
    Log log_;
    std::map<std::string, std::deque<int>> script_;
    std::deque<Bytes> pending_;
};
Library& Lib() {
    static Library library;
    return library;
}

// As a thread of the NI-CAN library would, returning the states the driver wants next.
nican::State Notify(nican::State state) {
    const nican::NotifyCallback callback = Lib().callback;
    return callback != nullptr ? callback(0x5A17, state, 0, nullptr) : 0;
}

template <typename Function>
EntryPoint Entry(Function function) {
    return reinterpret_cast<EntryPoint>(+function);
}
using nican::Handle;
const std::map<std::string, EntryPoint> kEntries = {
    {"ncConfig",
     Entry([](const char* name, uint32_t count, const uint32_t* ids, const uint32_t* values) {
         return Lib().Call(
             "ncConfig",
             std::string(name) + ",[" + Hex(ids, count) + "],[" + Hex(values, count) + "]", 0);
     })},
    {"ncOpenObject", Entry([](const char* name, Handle* object) {
         *object = 0x5A17;
         return Lib().Call("ncOpenObject", name, 0);
     })},
    {"ncCloseObject",
     Entry([](Handle object) { return Lib().Call("ncCloseObject", Hex({object}), 0); })},
    {"ncRead", Entry([](Handle object, uint32_t size, void* data) {
         return Lib().Call("ncRead", Hex({object, size}), 0) == 0 && Lib().Next(data, size) ? 0
                                                                                            : -1;
     })},
    // The write success comes before ncWrite returns, unless the script says "ack=0".
    {"ncWrite", Entry([](Handle object, uint32_t size, const void* data) {
         const std::string frame = Hex(static_cast<const uint8_t*>(data), size);
         const int status = Lib().Call("ncWrite", Hex({object, size}) + ",[" + frame + "]", 0);
         if (status == 0 && Lib().Answer("ack", 1) != 0) {
             Notify(nican::kStateWriteSuccess);
         }
         return status;
     })},
    {"ncReset", Entry([](const char* name, uint32_t parameter) {
         return Lib().Call("ncReset", name + ("," + Hex({parameter})), 0);
     })},
    {"ncCreateNotification", Entry([](Handle object, nican::State states, uint32_t timeoutMs,
                                      void* refData, nican::NotifyCallback callback) {
         const std::string args = Hex({object, states, timeoutMs}) + (refData ? ",ref" : ",null");
         const int status = Lib().Call("ncCreateNotification", args, 0);
         if (status == 0) {
             Lib().callback = callback;
         }
         return status;
     })},
    {"ncAction", Entry([](Handle object, uint32_t operation, uint32_t parameter) {
         return Lib().Call("ncAction", Hex({object, operation, parameter}), 0);
     })},
    {"ca_InitApi_1", Entry([](uint32_t version, uint32_t bufferSize) {
         return Lib().Call("ca_InitApi_1", Hex({version, bufferSize}), 1);
     })},
    {"ca_ResetCanCard_1", Entry([] { return Lib().Call("ca_ResetCanCard_1", "", 1); })},
    {"ca_InitCanCard_1", Entry([](uint32_t card, uint32_t mode, uint32_t t0, uint32_t t1,
                                  const canapi::FilterBlock* filters, uint32_t rx, uint32_t tx,
                                  uint32_t r0, uint32_t r1, uint32_t r2) {
         const std::string args =
             Hex({card, mode, t0, t1}) + "," + Words(filters) + "," + Hex({rx, tx, r0, r1, r2});
         return Lib().Call("ca_InitCanCard_1", args, 1);
     })},
    {"ca_TransmitCanCard_1",
     Entry([](uint32_t card, uint32_t flags, const canapi::TransmitRecord* record) {
         return Lib().Call("ca_TransmitCanCard_1", Hex({card, flags}) + "," + Words(record), 1);
     })},
    {"ca_GetData_1", Entry([](uint8_t* record) {  // logged only when it hands a record out
         return Lib().Next(record, canapi::kReceiveBufferBytes) ? Lib().Call("ca_GetData_1", "", 1)
                                                                : 0;
     })},
    {"ca_Instruction_1", Entry([](const canapi::InstructionRecord* record) {
         return Lib().Call("ca_Instruction_1", Words(record), 0);
     })},
    {"ca_CloseApi", Entry([] { return Lib().Call("ca_CloseApi", "", 1); })},
};

// Stands in for the dynamic loader and the clock while alive. Both libraries load unless
// `missing` is "library"; an entry point not in the table is one the drivers never call.
// Time passes by the pauses alone, a yield counting as one millisecond.
class Fakes : public ILibraryOpener, public IClock {
  public:
    Fakes() {
        Lib().Reset();
        SetLibraryOpener(this);
        SetClock(this);
    }
    ~Fakes() override {
        SetClock(nullptr);
        SetLibraryOpener(nullptr);
    }
    std::unique_ptr<LoadedLibrary> Open(const std::string& name) override {
        Lib().Call("load", name, 0);
        return missing == "library" ? nullptr : std::make_unique<Loaded>(missing);
    }
    void SleepMs(uint32_t ms) override {
        Lib().Call("sleep", std::to_string(ms), 0);
        now_ += std::max(ms, 1u);
    }
    uint64_t NowMs() override { return now_; }

    std::string missing;  // an entry point, or "library"
    ConsoleCapture console;

  private:
    struct Loaded : LoadedLibrary {
        explicit Loaded(std::string missing) : missing(std::move(missing)) {}
        ~Loaded() override { Lib().Call("unload", "", 0); }
        EntryPoint Find(const char* name) const override {
            const auto found = kEntries.find(name);
            return name == missing           ? nullptr
                   : found != kEntries.end() ? found->second
                                             : Entry([] { ADD_FAILURE() << "never called"; });
        }
        std::string missing;
    };
    std::atomic<uint64_t> now_{1000};
};

// Script changes, separated by spaces: "entry=answer,answer" or "missing=entry".
void SetScript(Fakes& fakes, const std::string& script) {
    std::istringstream in(script);
    for (std::string change; in >> change;) {
        const std::string entry = change.substr(0, change.find('='));
        std::istringstream values(change.substr(entry.size() + 1));
        if (entry == "missing") {
            fakes.missing = values.str();
            continue;
        }
        std::deque<int> answers;
        for (std::string value; std::getline(values, value, ',');) {
            answers.push_back(std::stoi(value));
        }
        Lib().Script(entry, answers);
    }
}

void HandToNiCan(uint32_t id, const Bytes& data) {
    nican::TimedFrame frame;
    frame.arbitrationId = id;
    frame.dataLength = static_cast<uint8_t>(data.size());
    std::copy(data.begin(), data.end(), frame.data);
    Lib().Push(frame);
    Notify(nican::kStateReadAvailable);
}
void QueueRecord(uint32_t type, uint32_t id, uint32_t lengthWord, const Bytes& data) {
    canapi::ReceiveRecord record{type, id, lengthWord};
    for (size_t i = 0; i < data.size(); ++i) {
        record.data[i] = 0xFF00 | data[i];  // the upper bits are not ours
    }
    Lib().Push(record);
}
void HandToUsb(uint32_t id, const Bytes& data) {  // the upper bits of the length are not ours
    QueueRecord(canapi::kRecordCanFrame, id, 0xA0 | static_cast<uint32_t>(data.size()), data);
}

struct Step {
    const char* script;  // changes before the action
    const char* action;
    int result;
    Log log;
};
struct Driver {
    const char* name;
    std::function<std::unique_ptr<CCanCard>()> make;
    void (*hand)(uint32_t id, const Bytes& data);
    bool polled;  // a thread of the driver takes the records
    std::vector<Step> life;
    const char* firstAfterOverflow;  // NI-CAN drops the newest frame, the USB adapter the oldest
};
void PrintTo(const Driver& driver, std::ostream* out) {
    *out << driver.name;
}

// Steps, each one word and its hexadecimal numbers. "write ID N" writes N bytes of
// 50 01 02 ..., of null data when N is negative; "read MS" logs the frame as "got"; "hand ID
// DATA..." gives the driver a frame as its library does, "queue TYPE ID LENGTH DATA..." a raw
// record of the USB adapter, "drain" waits until it took them; "settle" gives its thread time
// (50 ms) to finish a pass.
class CardDriverTest : public testing::TestWithParam<Driver> {
  protected:
    int Act(const std::string& step) {
        std::istringstream in(step);
        std::string verb;
        in >> verb >> std::hex;
        const std::vector<long> n{std::istream_iterator<long>(in), {}};
        if (verb == "hand" || verb == "queue") {
            const size_t first = verb == "hand" ? 1 : 3;
            const Bytes data(n.begin() + first, n.end());
            verb == "hand" ? GetParam().hand(n[0], data) : QueueRecord(n[0], n[1], n[2], data);
            return 0;
        }
        if (verb == "drain") {
            const int before = Lib().emptyAnswers;  // bounded wait
            for (int i = 0; GetParam().polled && Lib().emptyAnswers == before; ++i) {
                if (i == 5000) {
                    return 1;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            return 0;
        }
        if (verb == "settle") {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            return 0;
        }
        return ActOnCard(verb, n);
    }
    int ActOnCard(const std::string& verb, const std::vector<long>& n) {
        static const uint8_t kData[8] = {0x50, 1, 2, 3, 4, 5, 6, 7};
        CanCardFrame frame;
        if (verb == "new" || verb == "end") {
            card.reset();
            card = verb == "new" ? GetParam().make() : nullptr;
            const std::string said = fakes.console.Take();
            return said.empty() ? 0 : Lib().Call("says", said, 0);
        }
        if (verb == "notify") {
            return static_cast<int>(Notify(n[0]));
        }
        if (verb == "write") {
            return card->Write(n[0], n[1] < 0 ? nullptr : kData, std::abs(n[1]));
        }
        if (verb == "read") {
            const int result = card->Read(&frame, n[0]);
            const std::string data = "[" + Hex(frame.data, std::min(frame.length, 8u)) + "]";
            return result != 0 ? result
                               : Lib().Call("got", Hex({frame.id, frame.length}) + "," + data, 0);
        }
        return verb == "open" ? card->Open() : verb == "close" ? card->Close() : card->Reset();
    }
    Fakes fakes;
    std::unique_ptr<CCanCard> card;
};

const std::string kConfig =
    "ncConfig CAN0,[80000007,80000006,80000013,80000014,80010001,80010002,80010003,80010004],"
    "[3d090,1,64,14,0,0,0,0]";
const Log kNiOpen = {kConfig, "ncOpenObject CAN0", "ncCreateNotification 5a17,7,ffffffff,null"};
const Log kNiClose = {"ncAction 5a17,80000003,0", "sleep 300", "ncCloseObject 5a17"};
const std::string kNiError =
    "says ERROR: GetProcAddress failed, can not find nican.dll library or a method in the dll\n";
const std::string kNoFrame = "ncWrite 5a17,e,[12,2,0,0,0,0,0,0,0,0,0,0,0,0]";
const std::string kApi = "ca_InitApi_1 1000b,300";
const Log kInitCard = {
    "ca_ResetCanCard_1", "ca_Instruction_1 [b3,0,0,0,0,3,d0,90]",
    "ca_InitCanCard_1 1,0,0,0,[0,0,0,0,ff,ff,ff,ff,0,0,0,0,ff,ff,ff,ff],c9,3e,0,0,0"};
const std::string kTransmit = "ca_TransmitCanCard_1 1,0,[212,1,50,0,0,0,0,0,0,0,0,0]";
Log Retries(int count) {  // one yield before each
    Log log = {kTransmit};
    for (int i = 0; i < count; ++i) {
        log.insert(log.end(), {"sleep 0", kTransmit});
    }
    return log;
}

// clang-format off
const Driver kDrivers[] = {
    {"NiCan", [] { return std::make_unique<CNiCanCard>(); }, HandToNiCan, false, {
        {"missing=library", "new", 0, {"load nican.dll", "says ERROR: Can not load nican.dll library\n"}},
        {"missing=ncAction", "new", 0, {"load nican.dll", "unload", kNiError}},
        {"", "open", CARD_ERR_NO_LIBRARY, {}},
        {"missing=", "new", 0, {"load nican.dll"}},
        {"", "close", CARD_ERR_DRIVER, {}},  // never opened
        {"ncConfig=-1074388983", "open", -1074388983, {kConfig}},
        {"ncConfig=0 ncOpenObject=-5", "open", -5, {kConfig, "ncOpenObject CAN0"}},
        {"ncOpenObject=0 ncCreateNotification=-9", "open", CARD_ERR_DRIVER, kNiOpen},
        {"ncCreateNotification=0", "open", 0, kNiOpen},
        {"", "write 212 8", 0, {"ncWrite 5a17,e,[12,2,0,0,0,8,50,1,2,3,4,5,6,7]"}},
        {"", "write 7ff -3", 0, {"ncWrite 5a17,e,[ff,7,0,0,0,3,0,0,0,0,0,0,0,0]"}},
        // A write success seen before a write counts for it, once; the next waits in vain.
        {"ack=0", "notify 2", 2, {}},
        {"", "write 212 0", 0, {kNoFrame}},
        {"", "write 212 0", CARD_ERR_TIMEOUT, {kNoFrame}},
        {"ncWrite=-1074388985", "write 212 0", CARD_ERR_DRIVER, {kNoFrame}},
        {"ncReset=-1074388000", "reset", CARD_ERR_DRIVER, {"ncReset CAN0,0"}},
        {"ncReset=0", "reset", 0, {"ncReset CAN0,0"}},
        {"", "notify 1", 1, {"ncRead 5a17,16"}},  // nothing to read: nothing stored
        {"", "read 0", CARD_ERR_TIMEOUT, {}},
        {"", "notify 5", 0, {}},  // stopped
        {"", "hand 192 1 2", 0, {"ncRead 5a17,16"}},
        {"", "close", 0, kNiClose},
        {"", "hand 192 3", 0, {}},  // refused once closed
        {"", "read 14", 0, {"got 192,2,[1,2]"}},
        {"", "read 14", CARD_ERR_TIMEOUT, {}},
        {"", "open", 0, kNiOpen},
        {"ncCloseObject=-1", "close", CARD_ERR_DRIVER, kNiClose},
        {"ncCloseObject=0", "open", 0, kNiOpen},
        {"", "end", 0, {kNiClose[0], kNiClose[1], kNiClose[2], "unload"}},
     }, "got 192,8,[1,2,3,4,5,6,7,8]"},
    {"UsbLight", [] { return std::make_unique<USBLight>(); }, HandToUsb, true, {
        {"missing=library", "new", 0, {"load CANAPI.DLL"}},
        {"missing=ca_CloseApi", "new", 0, {"load CANAPI.DLL", "unload"}},
        {"", "open", CARD_ERR_NO_LIBRARY, {}},
        {"missing= ca_InitApi_1=0", "new", 0, {"load CANAPI.DLL", kApi}},
        {"", "open", CARD_ERR_NO_LIBRARY, {}},
        {"ca_InitApi_1=1", "new", 0, {"unload", "load CANAPI.DLL", kApi}},
        {"", "close", 0, {}},
        {"ca_InitCanCard_1=0", "open", CARD_ERR_NO_LIBRARY, kInitCard},
        {"ca_ResetCanCard_1=0", "reset", CARD_ERR_NO_LIBRARY, {"ca_ResetCanCard_1"}},
        {"ca_ResetCanCard_1=1 ca_InitCanCard_1=1", "open", 0, kInitCard},
        {"", "write 212 8", 0, {"ca_TransmitCanCard_1 1,0,[212,8,50,1,2,3,4,5,6,7,0,0]"}},
        {"", "write 7ff -3", 0, {"ca_TransmitCanCard_1 1,0,[7ff,3,0,0,0,0,0,0,0,0,0,0]"}},
        {"ca_TransmitCanCard_1=0,0,1", "write 212 1", 0, Retries(2)},
        {"ca_TransmitCanCard_1=0", "write 212 1", CARD_ERR_NO_LIBRARY, Retries(100)},
        {"", "queue 7002 7001 2 9 9", 0, {}},  // not a frame
        {"", "queue 7001 abc192 a8 1 2 3 4 5 6 7 8", 0, {}},  // the id is the low 16 bits
        {"", "queue 7001 194 f 1 2 3 4 5 6 7 8", 0, {}},  // a length over 8 is cut to 8
        {"", "queue 0 192 1 1", 0, {}},
        {"", "hand 193", 0, {}},
        {"", "drain", 0, Log(5, "ca_GetData_1")},
        {"", "read 0", 0, {"got c192,8,[1,2,3,4,5,6,7,8]"}},
        {"", "read 0", 0, {"got 194,8,[1,2,3,4,5,6,7,8]"}},
        {"", "read 0", 0, {"got 193,0,[]"}},
        {"", "read 0", CARD_ERR_TIMEOUT, {}},
        {"", "reset", 0, {"sleep 100", kInitCard[0], kInitCard[1], kInitCard[2]}},
        {"", "hand 192 1", 0, {}},
        {"", "drain", 0, {"ca_GetData_1"}},
        {"", "read 0", 0, {"got 192,1,[1]"}},
        {"", "close", 0, {"sleep 100"}},
        {"", "settle", 0, {}},
        {"", "hand 192 2", 0, {}},
        {"", "read 14", CARD_ERR_TIMEOUT, {}},  // no longer polled
        {"", "end", 0, {"sleep 100", "sleep 400", "ca_CloseApi", "unload"}},
     }, "got 100,0,[]"},
};
// clang-format on

TEST_P(CardDriverTest, CallsItsLibraryAsScripted) {
    for (const Step& step : GetParam().life) {
        SCOPED_TRACE(std::string(step.script) + " " + step.action);
        SetScript(fakes, step.script);
        EXPECT_EQ(Act(step.action), step.result);
        // A polling card's thread takes what it is fed whenever it comes by: those calls join
        // the log of the step after, which waits for them.
        const std::string verb = std::string(step.action).substr(0, 4);
        if (!GetParam().polled || (verb != "hand" && verb != "queu")) {
            EXPECT_EQ(Lib().Take(), step.log);
        }
    }
}

// Frames come out in order, zero length included, until the 257th finds the ring full; the last
// read, of an empty ring, answers without waiting.
TEST_P(CardDriverTest, AFullRingLosesOneFrameOfTheTwoHundredAndFiftySeventh) {
    Act("new"), Act("open");
    Act("hand 192 1 2 3 4 5 6 7 8"), Act("hand 193"), Act("hand 0 80 12");
    for (uint32_t id = 3; id < 257; ++id) {
        Act("hand " + Hex({id}));
    }
    ASSERT_EQ(Act("drain"), 0);
    Lib().Take();
    for (int i = 0; i < 257 && Act("read 0") == 0; ++i) {
    }
    const Log got = Lib().Take();
    ASSERT_EQ(got.size(), 256u);
    EXPECT_EQ(Log(got.begin(), got.begin() + 3),
              (Log{GetParam().firstAfterOverflow, "got 193,0,[]", "got 0,2,[80,12]"}));
    EXPECT_EQ(got.back(), "got ff,0,[]");
}

INSTANTIATE_TEST_SUITE_P(Drivers, CardDriverTest, testing::ValuesIn(kDrivers),
                         [](const auto& driver) { return std::string(driver.param.name); });

TEST(PcCommAdapter, MakesTheCardItsChannelNames) {
    const struct {
        const char* channel;
        Log log;
    } cases[] = {{"CAN0", {"load nican.dll", "sleep 100"}},
                 {"CAN1", {"load CANAPI.DLL", "sleep 100"}},
                 {"CAN2", {"sleep 100"}},
                 {nullptr, {"sleep 100"}}};
    for (const auto& c : cases) {
        Fakes fakes;
        fakes.missing = "library";
        delete new CPcCommAdapter(c.channel);
        EXPECT_EQ(Lib().Take(), c.log) << (c.channel ? c.channel : "null");
    }
}

// A card whose every call is logged and answered from the script; a read answered 0 hands out
// the next frame, or times out when there is none.
class FakeCard : public CCanCard {
  public:
    ~FakeCard() override { Lib().Call("card destroyed", "", 0); }
    int Open() override { return Lib().Call("open", "", 0); }
    int Close() override { return Lib().Call("close", "", 0); }
    int Reset() override { return Lib().Call("reset", "", 0); }
    int Write(uint16_t id, const uint8_t* data, int length) override {
        return Lib().Call("write", Hex({id}) + " " + Hex(data, length), 0);
    }
    int Read(CanCardFrame* frame, uint32_t timeoutMs) override {
        const int result = Lib().Call("read", std::to_string(timeoutMs), 0);
        return result == 0 && !Lib().Next(frame, sizeof *frame) ? CARD_ERR_TIMEOUT : result;
    }
};
CanCardFrame Frame(uint32_t id, const Bytes& data = {}) {
    CanCardFrame frame{id, static_cast<uint32_t>(data.size())};
    std::copy(data.begin(), data.end(), frame.data);
    return frame;
}
template <typename Record>
Bytes Raw(const Record& record, size_t tail = 0) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
    Bytes raw(bytes, bytes + sizeof record);
    raw.resize(raw.size() + tail, 0xAB);
    return raw;
}
Bytes BootParams(uint32_t timeoutMs) {
    return Raw(BootInitParams{.nodeId = 0x12,
                              .page = 1,
                              .startAddress = 0x1234,
                              .length = 0x800,
                              .checksum = 0xBEEF,
                              .replyTimeoutMs = timeoutMs});
}
Log Reads(Log head, int count, const std::string& read = "read 100", const Log& tail = {}) {
    head.insert(head.end(), count, read);
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

class PcCommAdapterTest : public ::testing::Test {
  protected:
    uint32_t Run(uint32_t command, const Bytes& payload = {}) {
        request.SetAll(static_cast<uint32_t>(payload.size()), payload.data(), command, 0);
        reply.status = 0xFFFFFFFF;
        EXPECT_EQ(adapter->Transact(&request, &reply, 24, 20000), 0);
        EXPECT_EQ(reply.command, command);
        return reply.status;
    }

    Fakes fakes;
    std::unique_ptr<CPcCommAdapter> adapter = std::make_unique<CPcCommAdapter>(new FakeCard);
    CCcbMessage request, reply;
};

// Node 0x12 (requests 0x212, replies 0x192): a wait reads a fifth of the reply timeout at a time,
// gives up after five silent reads in a row, skips foreign frames, ends at a read error; a reply
// fills only its own bytes; a drain goes on while the node answers; a failed write ends the
// segments.
TEST_F(PcCommAdapterTest, WaitsForTheNodesRepliesInTheCardsRing) {
    const Bytes kAnswer = {0x11, 0x00, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
    const std::string kInfo = "write 212 70,0,0,0,0,0,0,0";
    // clang-format off
    const struct {
        uint32_t timeoutMs, command;
        const char* script;
        std::vector<CanCardFrame> frames;  // handed out by the reads answered 0
        uint32_t status;
        Log log;
        Bytes data;
    } cases[] = {
        {1999, CCB_CMD_GET_INFO, "", {}, CCB_STATUS_NO_REPLY, Reads({kInfo}, 5, "read 399"), {}},
        {500, CCB_CMD_GET_INFO, "read=0,106,0,0,106,106,0,106,0",
         {Frame(0x193, kAnswer), Frame(0x000, {1, 0x12}), Frame(0x212, kAnswer),
          Frame(0x092, kAnswer), Frame(0x192, kAnswer)}, CCB_STATUS_OK, Reads({kInfo}, 9), kAnswer},
        {500, CCB_CMD_GET_INFO, "read=107,0", {Frame(0x192, kAnswer)}, CCB_STATUS_NO_REPLY,
         Reads({kInfo}, 1), {}},
        {500, CCB_CMD_GET_INFO, "", {Frame(0x192, {0xA1, 0xA2, 0xA3})}, CCB_STATUS_OK,
         Reads({kInfo}, 1), {0xA1, 0xA2, 0xA3, 0, 0, 0, 0, 0}},
        {500, CCB_CMD_SELECT_VARIANT_1, "", {}, CCB_STATUS_OK, {"write 0 80,0"}, {}},
        {500, CCB_CMD_BOOT_INIT, "read=0,106,0,0,106",
         {Frame(0x192, kAnswer), Frame(0x192, kAnswer), Frame(0x300, kAnswer)}, CCB_STATUS_OK,
         Reads({"write 0 96,12", "sleep 2000", "write 212 ff,0,0,0,0,0,0,0"}, 4 + 5, "read 100",
               {"write 212 0,1,34,12,0,8,ef,be"}), {}},
        {500, CCB_CMD_WRITE_SUBBLOCK, "write=0,0,107", {Frame(0x192, kAnswer)}, CCB_STATUS_OK,
         {"write 212 10,0,0,0,10,0,0,0", "write 212 50,0,0,0,0,0,0,0", "sleep 300", "read 100",
          "sleep 300", "write 212 27,ab,ab,ab,ab,ab,ab,ab"}, kAnswer},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        Lib().Reset();
        Run(CCB_CMD_CONFIGURE, BootParams(c.timeoutMs));
        Lib().Take();
        SetScript(fakes, c.script);
        for (const CanCardFrame& frame : c.frames) {
            Lib().Push(frame);
        }
        EXPECT_EQ(Run(c.command, c.command == CCB_CMD_BOOT_INIT ? BootParams(500)
                                 : c.command == CCB_CMD_WRITE_SUBBLOCK
                                     ? Raw(SubblockDescriptor{.length = 16}, 16)
                                     : Bytes{}),
                  c.status);
        EXPECT_EQ(Lib().Take(), c.log);
        EXPECT_EQ(Bytes(reply.data, reply.data + reply.dataLength), c.data);
    }
}

// Opens the card at the first success only; closes it at each reset; sends no raw frame and
// writes no reply; at the end destroys the card, then pauses.
TEST_F(PcCommAdapterTest, OpensTheCardOnceResetClosesItSendRawDoesNothing) {
    SetScript(fakes, "open=108,0 close=0,107");
    const int results[] = {adapter->Open(0x12), adapter->Open(0x12), adapter->Open(0x13),
                           adapter->Reset(),    adapter->Reset(),    adapter->Open(0x12)};
    EXPECT_EQ(Bytes(std::begin(results), std::end(results)), (Bytes{1, 0, 0, 0, 1, 0}));
    CanFrameRequest raw;
    uint8_t rawReply[12] = {};
    EXPECT_EQ(adapter->SendRaw(&raw, sizeof raw, rawReply, sizeof rawReply, 1000), 0);
    EXPECT_EQ(Bytes(std::begin(rawReply), std::end(rawReply)), Bytes(12));
    adapter.reset();
    EXPECT_EQ(Lib().Take(), (Log{"open", "open", "close", "close", "card destroyed", "sleep 100"}));
}

TEST(LibraryLoader, TriesTheNamesBesideTheToolThenInItsPrivateFolderThenThroughTheLinker) {
    // clang-format off
    const struct {
        std::string windowsName, directory, privateFolder;
        Log expected;
    } cases[] = {
        {"nican.dll", "", "../lib/orvflashpuc", {"nican.dll", "libnican.so"}},
        {"CANAPI.DLL", "/usr/bin", "../lib/orvflashpuc",
         {"/usr/bin/CANAPI.DLL", "/usr/bin/libcanapi.so", "/usr/bin/../lib/orvflashpuc/CANAPI.DLL",
          "/usr/bin/../lib/orvflashpuc/libcanapi.so", "CANAPI.DLL", "libcanapi.so"}},
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(LibraryCandidates(c.windowsName, c.directory, c.privateFolder), c.expected);
    }
}

}  // namespace
}  // namespace orv::test
