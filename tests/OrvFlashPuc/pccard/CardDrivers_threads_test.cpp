// The card drivers against one fake of both card libraries: it logs every call and pause as a
// line of text and answers from a script.
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
#include "transport/CcbMessage.h"
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

// The libraries' side: the log, the script (entry point -> answers, the last one repeating), the
// records handed out next, and the entry point that is missing ("library": nothing loads).
class Library {
  public:
    int Call(const std::string& entry, const std::string& args, int success) {
        std::lock_guard lock(mutex_);
        log_.push_back(args.empty() ? entry : entry + " " + args);
        return Answer(entry, success);
    }
    int Answer(const std::string& entry, int success) {
        std::lock_guard lock(mutex_);
        std::deque<int>& answers = script_[entry];
        const int answer = answers.empty() ? success : answers.front();
        if (answers.size() > 1)
            answers.pop_front();
        return answer;
    }
    Log Take() {
        std::lock_guard lock(mutex_);
        return std::exchange(log_, {});
    }
    // Changes separated by spaces: "entry=answer,answer" or "missing=entry".
    void Script(const std::string& changes) {
        std::lock_guard lock(mutex_);
        std::istringstream in(changes);
        for (std::string change; in >> change;) {
            const size_t equals = change.find('=');
            std::istringstream values(change.substr(equals + 1));
            if (change.starts_with("missing=")) {
                missing = values.str();
                continue;
            }
            std::deque<int>& answers = script_[change.substr(0, equals)];
            answers.clear();
            for (std::string value; std::getline(values, value, ',');)
                answers.push_back(std::stoi(value));
        }
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
            ++emptyAnswers;
            return false;
        }
        std::memset(buffer, 0xEE, capacity);
        std::memcpy(buffer, pending_.front().data(), std::min(capacity, pending_.front().size()));
        pending_.pop_front();
        return true;
    }

    std::atomic<int> emptyAnswers{0};
    std::atomic<nican::NotifyCallback> callback{nullptr};
    std::string missing;

  private:
    std::recursive_mutex mutex_;
    Log log_;
    std::map<std::string, std::deque<int>> script_;
    std::deque<Bytes> pending_;
};
Library* current = nullptr;  // the fakes' of the test
Library& Lib() {
    return *current;
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
         if (status == 0 && Lib().Answer("ack", 1) != 0)
             Notify(nican::kStateWriteSuccess);
         return status;
     })},
    {"ncReset", Entry([](const char* name, uint32_t parameter) {
         return Lib().Call("ncReset", name + ("," + Hex({parameter})), 0);
     })},
    {"ncCreateNotification", Entry([](Handle object, nican::State states, uint32_t timeoutMs,
                                      void* refData, nican::NotifyCallback callback) {
         Lib().callback = callback;
         const std::string args = Hex({object, states, timeoutMs}) + (refData ? ",ref" : ",null");
         return Lib().Call("ncCreateNotification", args, 0);
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

// Stands in for the dynamic loader and the clock while alive; an entry point not in the table is
// one the drivers never call. Time passes by the pauses alone, a yield counting as 1 ms.
class Fakes : public LibraryOpener, public Clock {
  public:
    Fakes() { current = &library, SetLibraryOpener(this), SetClock(this); }
    ~Fakes() override { SetClock(nullptr), SetLibraryOpener(nullptr); }
    std::unique_ptr<LoadedLibrary> Open(const std::string& name) override {
        Lib().Call("load", name, 0);
        return Lib().missing == "library" ? nullptr : std::make_unique<Loaded>();
    }
    void SleepMs(uint32_t ms) override {
        Lib().Call("sleep", std::to_string(ms), 0);
        now_ += std::max(ms, 1u);
    }
    uint64_t NowMs() override { return now_; }

    Library library;
    ConsoleCapture console;

  private:
    struct Loaded : LoadedLibrary {
        ~Loaded() override { Lib().Call("unload", "", 0); }
        EntryPoint Find(const char* name) const override {
            const auto found = kEntries.find(name);
            return name == Lib().missing     ? nullptr
                   : found != kEntries.end() ? found->second
                                             : Entry([] { ADD_FAILURE() << "never called"; });
        }
    };
    std::atomic<uint64_t> now_{1000};
};

void HandToNiCan(uint32_t id, const Bytes& data) {
    nican::TimedFrame frame;
    frame.arbitrationId = id;
    frame.dataLength = static_cast<uint8_t>(data.size());
    std::copy(data.begin(), data.end(), frame.data);
    Lib().Push(frame);
    Notify(nican::kStateReadAvailable);
}
void QueueRecord(uint32_t type, uint32_t id, uint32_t lengthWord, const Bytes& data) {
    canapi::ReceiveRecord record{type, id, lengthWord};  // the upper bits of each are not ours
    std::transform(data.begin(), data.end(), record.data,
                   [](uint8_t byte) { return 0xFF00 | byte; });
    Lib().Push(record);
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
    std::vector<Step> life;
    friend void PrintTo(const Driver& driver, std::ostream* out) { *out << driver.name; }
};

// Steps, each one word and its hexadecimal numbers. "write ID N" writes N bytes of 50 01 02 ...,
// of null data when N < 0; "read MS" logs the frame as "got"; "hand ID DATA..." passes NI-CAN a
// frame, "queue TYPE ID LENGTH DATA..." the USB adapter a record, "drain" waits until its thread
// took them.
class CardDriverTest : public testing::TestWithParam<Driver> {
  protected:
    int Act(const std::string& step) {
        std::istringstream in(step);
        std::string verb;
        in >> verb >> std::hex;
        const std::vector<long> n{std::istream_iterator<long>(in), {}};
        static const uint8_t kData[8] = {0x50, 1, 2, 3, 4, 5, 6, 7};
        CanCardFrame frame;
        if (verb == "hand") {
            HandToNiCan(n[0], Bytes(n.begin() + 1, n.end()));
        } else if (verb == "queue") {
            QueueRecord(n[0], n[1], n[2], Bytes(n.begin() + 3, n.end()));
        } else if (verb == "drain") {
            const int before = Lib().emptyAnswers;  // bounded wait
            for (int i = 0; Lib().emptyAnswers == before && i < 5000; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return Lib().emptyAnswers == before;
        } else if (verb == "new" || verb == "end") {
            card.reset();
            card = verb == "new" ? GetParam().make() : nullptr;
            const std::string said = fakes.console.Take();
            return said.empty() ? 0 : Lib().Call("says", said, 0);
        } else if (verb == "notify") {
            return static_cast<int>(Notify(n[0]));
        } else if (verb == "write") {
            return card->Write(n[0], n[1] < 0 ? nullptr : kData, std::abs(n[1]));
        } else if (verb == "read") {
            const int result = card->Read(&frame, n[0]);
            const std::string data = "[" + Hex(frame.data, std::min(frame.length, 8u)) + "]";
            return result != 0 ? result
                               : Lib().Call("got", Hex({frame.id, frame.length}) + "," + data, 0);
        } else {
            return verb == "open" ? card->Open() : verb == "close" ? card->Close() : card->Reset();
        }
        return 0;
    }
    Fakes fakes;
    std::unique_ptr<CCanCard> card;
};

const std::string kConfig =
    "ncConfig CAN0,[80000007,80000006,80000013,80000014,80010001,80010002,80010003,80010004],"
    "[3d090,1,64,14,0,0,0,0]";
const std::string kNoFrame = "ncWrite 5a17,e,[12,2,0,0,0,0,0,0,0,0,0,0,0,0]";
const Log kInitCard = {
    "ca_ResetCanCard_1", "ca_Instruction_1 [b3,0,0,0,0,3,d0,90]",
    "ca_InitCanCard_1 1,0,0,0,[0,0,0,0,ff,ff,ff,ff,0,0,0,0,ff,ff,ff,ff],c9,3e,0,0,0"};
const std::string kTransmit = "ca_TransmitCanCard_1 1,0,[212,1,50,0,0,0,0,0,0,0,0,0]";
Log Retries(int count) {  // one yield before each
    Log log = {kTransmit};
    while (count-- > 0)
        log.insert(log.end(), {"sleep 0", kTransmit});
    return log;
}

// clang-format off
const Driver kDrivers[] = {
    {"NiCan", [] { return std::make_unique<CNiCanCard>(); }, {
        {"missing=library", "new", 0, {"load nican.dll", "says ERROR: Can not load nican.dll library\n"}},
        {"missing=ncAction", "new", 0, {"load nican.dll", "unload", "says ERROR: GetProcAddress failed, can not find nican.dll library or a method in the dll\n"}},
        {"", "open", CARD_ERR_NO_LIBRARY, {}},
        {"missing=", "new", 0, {"load nican.dll"}},
        {"ncConfig=-1074388983", "open", -1074388983, {kConfig}},
        {"ncConfig=0", "open", 0, {kConfig, "ncOpenObject CAN0", "ncCreateNotification 5a17,7,ffffffff,null"}},
        {"", "write 212 8", 0, {"ncWrite 5a17,e,[12,2,0,0,0,8,50,1,2,3,4,5,6,7]"}},
        {"", "write 7ff -3", 0, {"ncWrite 5a17,e,[ff,7,0,0,0,3,0,0,0,0,0,0,0,0]"}},
        // A write success seen before a write counts for it, once; the next waits in vain.
        {"ack=0", "notify 2", 2, {}},
        {"", "write 212 0", 0, {kNoFrame}},
        {"", "write 212 0", CARD_ERR_TIMEOUT, {kNoFrame}},
        // Opening again forgets a write success seen before.
        {"", "notify 2", 2, {}},
        {"", "open", 0, {kConfig, "ncOpenObject CAN0", "ncCreateNotification 5a17,7,ffffffff,null"}},
        {"", "write 212 0", CARD_ERR_TIMEOUT, {kNoFrame}},
        {"ncReset=0", "reset", 0, {"ncReset CAN0,0"}},
        {"", "hand 192 1 2", 0, {"ncRead 5a17,16"}},
        {"", "close", 0, {"ncAction 5a17,80000003,0", "sleep 300", "ncCloseObject 5a17"}},
        {"", "hand 192 3", 0, {}},  // refused once closed
        {"", "read 14", 0, {"got 192,2,[1,2]"}},
        {"", "end", 0, {"unload"}},
     }},
    {"UsbLight", [] { return std::make_unique<USBLight>(); }, {
        {"missing=ca_CloseApi", "new", 0, {"load CANAPI.DLL", "unload"}},
        {"", "open", CARD_ERR_NO_LIBRARY, {}},
        {"missing=", "new", 0, {"load CANAPI.DLL", "ca_InitApi_1 1000b,300"}},
        {"", "open", 0, kInitCard},
        {"", "write 212 8", 0, {"ca_TransmitCanCard_1 1,0,[212,8,50,1,2,3,4,5,6,7,0,0]"}},
        {"", "write 7ff -3", 0, {"ca_TransmitCanCard_1 1,0,[7ff,3,0,0,0,0,0,0,0,0,0,0]"}},
        {"ca_TransmitCanCard_1=0,0,1", "write 212 1", 0, Retries(2)},
        {"ca_TransmitCanCard_1=0", "write 212 1", CARD_ERR_NO_LIBRARY, Retries(100)},
        {"", "queue 7001 193 a0", 0, {}},  // the upper bits of the length are not ours
        {"", "drain", 0, {"ca_GetData_1"}},
        {"", "read 0", 0, {"got 193,0,[]"}},
        {"", "read 0", CARD_ERR_TIMEOUT, {}},
        {"", "reset", 0, {"sleep 100", kInitCard[0], kInitCard[1], kInitCard[2]}},
        {"", "close", 0, {"sleep 100"}},
        {"", "end", 0, {"sleep 100", "sleep 400", "ca_CloseApi", "unload"}},
     }},
};
// clang-format on

TEST_P(CardDriverTest, CallsItsLibraryAsScripted) {
    for (const Step& step : GetParam().life) {
        SCOPED_TRACE(std::string(step.script) + " " + step.action);
        Lib().Script(step.script);
        EXPECT_EQ(Act(step.action), step.result);
        // The USB adapter's thread takes records whenever it comes by: "drain" waits for its calls.
        if (!std::string(step.action).starts_with("queue")) {
            EXPECT_EQ(Lib().Take(), step.log);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Drivers, CardDriverTest, testing::ValuesIn(kDrivers),
                         [](const auto& driver) { return std::string(driver.param.name); });

TEST(PcCommAdapter, MakesTheCardItsChannelNames) {
    const std::pair<const char*, Log> cases[] = {{"CAN0", {"load nican.dll", "sleep 100"}},
                                                 {"CAN1", {"load CANAPI.DLL", "sleep 100"}},
                                                 {"CAN2", {"sleep 100"}},
                                                 {nullptr, {"sleep 100"}}};
    for (const auto& [channel, log] : cases) {
        Fakes fakes;
        Lib().missing = "library";
        delete new CPcCommAdapter(channel);
        EXPECT_EQ(Lib().Take(), log) << (channel ? channel : "null");
    }
}

// A card that logs what the adapter asks of it; its reads answer as the script says ("read=..."),
// a read answered 0 handing out the next frame queued, or a time-out when there is none.
class LoggingCard : public CCanCard {
  public:
    int Open() override { return 0; }
    int Close() override { return 0; }
    int Reset() override { return 0; }
    int Write(uint16_t id, const uint8_t* data, int length) override {
        return Lib().Call("write", Hex({id}) + " " + Hex(data, length), 0);
    }
    int Read(CanCardFrame* frame, uint32_t timeoutMs) override {
        const int result = Lib().Call("read", std::to_string(timeoutMs), 0);
        return result == 0 && !Lib().Next(frame, sizeof *frame) ? CARD_ERR_TIMEOUT : result;
    }
};

// Node 0x12 asks on 0x212 and answers on 0x192. A wait reads a fifth of the reply timeout at a
// time and gives up after five silent reads in a row; other nodes' frames do not count, a read
// error ends the wait, and a short reply fills only its own bytes.
TEST(PcCommAdapter, WaitsForTheNodesReplyInFifthsOfItsTimeout) {
    const Bytes kAnswer = {0x11, 0x00, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
    const auto frame = [](uint32_t id, const Bytes& data) {
        CanCardFrame f{id, static_cast<uint32_t>(data.size())};
        std::copy(data.begin(), data.end(), f.data);
        return f;
    };
    const struct {
        const char* script;
        std::vector<CanCardFrame> frames;
        uint32_t status;
        int reads;
        Bytes data;
    } cases[] = {
        {"", {}, CCB_STATUS_NO_REPLY, 5, {}},
        {"read=0,106,0,0,106,106,0,106,0",
         {frame(0x193, kAnswer), frame(0x000, {1, 0x12}), frame(0x212, kAnswer),
          frame(0x092, kAnswer), frame(0x192, kAnswer)},
         CCB_STATUS_OK,
         9,
         kAnswer},
        {"read=107,0", {frame(0x192, kAnswer)}, CCB_STATUS_NO_REPLY, 1, {}},
        {"",
         {frame(0x192, {0xA1, 0xA2, 0xA3})},
         CCB_STATUS_OK,
         1,
         {0xA1, 0xA2, 0xA3, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        Fakes fakes;
        CPcCommAdapter adapter(new LoggingCard);
        CCcbMessage request, reply;
        const BootInitParams params{.nodeId = 0x12, .replyTimeoutMs = 1999};
        request.SetAll(sizeof params, &params, CCB_CMD_CONFIGURE, 0);
        adapter.Transact(&request, &reply, 24, 20000);
        Lib().Script(c.script);
        for (const CanCardFrame& f : c.frames)
            Lib().Push(f);
        Lib().Take();
        request.SetAll(0, nullptr, CCB_CMD_GET_INFO, 0);
        adapter.Transact(&request, &reply, 24, 20000);
        EXPECT_EQ(reply.status, c.status);
        Log log = {"write 212 70,0,0,0,0,0,0,0"};
        log.insert(log.end(), c.reads, "read 399");
        EXPECT_EQ(Lib().Take(), log);
        EXPECT_EQ(Bytes(reply.data, reply.data + reply.dataLength), c.data);
    }
}

TEST(LibraryLoader, TriesTheNamesBesideTheToolThenInItsPrivateFolderThenThroughTheLinker) {
    EXPECT_EQ(LibraryCandidates("CANAPI.DLL", "/bin", "../lib"),
              (Log{"/bin/CANAPI.DLL", "/bin/libcanapi.so", "/bin/../lib/CANAPI.DLL",
                   "/bin/../lib/libcanapi.so", "CANAPI.DLL", "libcanapi.so"}));
    EXPECT_EQ(LibraryCandidates("nican.dll", "", "../lib"), (Log{"nican.dll", "libnican.so"}));
}

}  // namespace
}  // namespace orv::test
