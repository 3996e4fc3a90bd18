#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "os/LibraryLoader.h"
#include "pccard/CanApi.h"
#include "pccard/CanCard.h"
#include "pccard/NiCanApi.h"

namespace orv::test {

using Calls = std::vector<std::string>;
using Table = std::map<std::string, EntryPoint>;
using Frames = std::vector<std::pair<uint32_t, std::vector<uint8_t>>>;  // id and data each

// Waits (bounded) until the condition holds; a driver's thread works at its own pace.
bool Eventually(const std::function<bool()>& condition);

// Stands in for the dynamic loader while alive: hands out in-process tables of entry points
// under Windows library names, and remembers what was asked for and what is still loaded.
class FakeLibraryOpener : public ILibraryOpener {
  public:
    FakeLibraryOpener() { SetLibraryOpener(this); }
    ~FakeLibraryOpener() override { SetLibraryOpener(nullptr); }
    // A library short of the entry point `missing`.
    void Provide(const std::string& name, Table table, const std::string& missing = "") {
        table.erase(missing);
        tables_[name] = std::move(table);
    }
    std::unique_ptr<LoadedLibrary> Open(const std::string& name) override;

    Calls requests;  // libraries asked for, in order
    std::atomic<int> loaded{0};

  private:
    std::map<std::string, Table> tables_;
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
    Calls TakeCalls();  // and forgets them
    void Set(const std::string& entry, int result);

    static std::string Text(const char* text) { return text; }
    static std::string Text(const void* pointer) { return pointer ? "ref" : "null"; }
    static std::string Text(uint32_t value);
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
    ~FakeNiCan() override;
    Table Entries() const override;
    void Hand(const Frames& frames) override;

    // On the calling thread: hands the frame (if any) to ncRead and runs the notification.
    nican::State Deliver(nican::State state, const nican::TimedFrame* frame = nullptr);
    // On a thread of the library, returning when done: a notification; frames one by one.
    nican::State Notify(nican::State state);
    void Receive(const std::vector<nican::TimedFrame>& frames);
    void WaitIdle();   // until every notification started so far has run
    size_t Pending();  // frames handed over, not yet taken by ncRead

    std::atomic<bool> acknowledgeWrites{true};  // a write-success after each ncWrite

  private:
    std::deque<nican::TimedFrame> pending_;
    nican::NotifyCallback callback_ = nullptr;
    std::vector<std::future<void>> running_;
};

// The USB adapter's library: records ca_TransmitCanCard_1 only when it accepts, counts it and
// ca_GetData_1, and hands out the records a test queues.
class FakeCanApi : public FakeLibrary {
  public:
    static constexpr const char* kLibrary = "CANAPI.DLL";
    static inline FakeCanApi* current = nullptr;

    FakeCanApi() { current = this; }
    ~FakeCanApi() override { current = nullptr; }
    Table Entries() const override;
    void Hand(const Frames& frames) override;

    // Queued at once, so the driver's thread takes them in one pass.
    void Queue(const std::vector<canapi::ReceiveRecord>& records);
    size_t Queued();

    std::atomic<int> refuseTransmits{0};  // refusals before accepting again (-1: all)
    std::atomic<int> transmitCalls{0}, getDataCalls{0};

  private:
    std::deque<canapi::ReceiveRecord> queue_;
};

canapi::ReceiveRecord UsbFrame(uint32_t id, std::vector<uint8_t> data,
                               uint32_t type = canapi::kRecordCanFrame);
// The next `count` frames as "id,length,[data]" in hex, up to the first failed Read.
Calls ReadFrames(CCanCard& card, int count, uint32_t timeoutMs = 2000);
// Both drivers answer everything with 108 when their library could not be used.
void ExpectEveryOperation108(CCanCard& card);

}  // namespace orv::test
