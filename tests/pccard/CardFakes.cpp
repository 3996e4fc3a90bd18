#include "CardFakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <utility>

namespace orv::test {
namespace {

class FakeLoaded : public LoadedLibrary {
  public:
    FakeLoaded(FakeLibraryOpener& owner, Table table) : owner_(owner), table_(std::move(table)) {
        ++owner_.loaded;
    }
    ~FakeLoaded() override { --owner_.loaded; }
    EntryPoint Find(const char* name) const override {
        const auto found = table_.find(name);
        return found == table_.end() ? nullptr : found->second;
    }

  private:
    FakeLibraryOpener& owner_;
    Table table_;
};

template <typename Function>
EntryPoint Entry(Function function) {
    return reinterpret_cast<EntryPoint>(+function);
}
template <typename T>
std::vector<uint32_t> Words(const T* record, size_t count = sizeof(T) / 4) {
    const auto* words = reinterpret_cast<const uint32_t*>(record);
    return {words, words + count};
}

FakeNiCan& Ni() {
    return *FakeNiCan::current;
}
FakeCanApi& Usb() {
    return *FakeCanApi::current;
}

}  // namespace

std::unique_ptr<LoadedLibrary> FakeLibraryOpener::Open(const std::string& name) {
    requests.push_back(name);
    const auto found = tables_.find(name);
    return found == tables_.end() ? nullptr : std::make_unique<FakeLoaded>(*this, found->second);
}

Calls FakeLibrary::TakeCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(calls_, {});
}
void FakeLibrary::Set(const std::string& entry, int result) {
    std::lock_guard<std::mutex> lock(mutex_);
    results_[entry] = result;
}
std::string FakeLibrary::Text(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

FakeNiCan::~FakeNiCan() {
    WaitIdle();
    current = nullptr;
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
        {"ncCloseObject", Entry([](Handle object) {
             Ni().WaitIdle();  // as the real library: no notification runs once closed
             return Ni().Call("ncCloseObject", 0, object);
         })},
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
                 std::lock_guard<std::mutex> lock(Ni().mutex_);
                 Ni().running_.push_back(std::async(
                     std::launch::async, [] { Ni().Deliver(nican::kStateWriteSuccess); }));
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

nican::State FakeNiCan::Deliver(nican::State state, const nican::TimedFrame* frame) {
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

nican::State FakeNiCan::Notify(nican::State state) {
    return std::async(std::launch::async, [&] { return Deliver(state); }).get();
}

void FakeNiCan::WaitIdle() {
    for (;;) {
        std::vector<std::future<void>> running;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            running.swap(running_);
        }
        if (running.empty()) {
            return;
        }
        for (std::future<void>& task : running) {
            task.wait();
        }
    }
}

void FakeNiCan::Hand(const Frames& frames) {
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

Table FakeCanApi::Entries() const {
    // Looked up, but the driver never calls them.
    const EntryPoint never = Entry([] { Usb().Call("unexpected call", 0); });
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
            {"ca_CloseApi", Entry([] { return Usb().Call("ca_CloseApi", 1); })},
            {"ca_ResetSoftwareFilterMask_1", never},
            {"ca_SetAllId_1", never},
            {"ca_SetFilterId_1", never},
            {"ca_GetCharData_1", never},
            {"ca_GetCharCplxData_1", never},
            {"ca_ClearFifo_1", never},
            {"ca_SetFilterVar_1", never}};
}

void FakeCanApi::Queue(const std::vector<canapi::ReceiveRecord>& records) {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.insert(queue_.end(), records.begin(), records.end());
}

void FakeCanApi::Hand(const Frames& frames) {
    std::vector<canapi::ReceiveRecord> records;
    for (const auto& [id, data] : frames) {
        records.push_back(UsbFrame(id, data));
    }
    Queue(records);
    EXPECT_TRUE(Eventually([this] { return Queued() == 0; }));
}

size_t FakeCanApi::Queued() {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}

canapi::ReceiveRecord UsbFrame(uint32_t id, std::vector<uint8_t> data, uint32_t type) {
    canapi::ReceiveRecord record;
    record.type = type;
    record.id = id;
    record.lengthWord = 0xA0 | static_cast<uint32_t>(data.size());  // upper bits are not ours
    for (size_t i = 0; i < data.size(); ++i) {
        record.data[i] = 0xFF00 | data[i];
    }
    return record;
}

bool Eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!condition() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

Calls ReadFrames(CCanCard& card, int count, uint32_t timeoutMs) {
    Calls frames;
    CanCardFrame frame;
    for (int i = 0; i < count && card.Read(&frame, timeoutMs) == 0; ++i) {
        frames.push_back(FakeLibrary::Text(frame.id) + "," + FakeLibrary::Text(frame.length) + "," +
                         FakeLibrary::Text(std::vector<uint8_t>(
                             frame.data, frame.data + std::min(frame.length, 8u))));
    }
    return frames;
}

void ExpectEveryOperation108(CCanCard& card) {
    CanCardFrame frame;
    const uint8_t data[8] = {};
    EXPECT_EQ((std::vector<int>{card.Open(), card.Write(0x212, data, 8), card.Read(&frame, 10),
                                card.Reset(), card.Close()}),
              std::vector<int>(5, CARD_ERR_NO_LIBRARY));
}

}  // namespace orv::test
