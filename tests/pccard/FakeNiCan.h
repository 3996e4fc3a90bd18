#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "DriverThread.h"
#include "FakeLibraryOpener.h"
#include "pccard/NiCanApi.h"

namespace orv::test {

// An NI-CAN library in the test's process: records every call with its values, answers with
// the results a test sets, and calls the registered notification on a thread of its own.
class FakeNiCan {
  public:
    static constexpr nican::Handle kHandle = 0x5A17;

    FakeNiCan();
    ~FakeNiCan();
    FakeNiCan(const FakeNiCan&) = delete;
    FakeNiCan& operator=(const FakeNiCan&) = delete;

    // The eight entry points under their names.
    FakeLibraryOpener::Table Table() const;

    std::vector<std::string> Calls() const;
    void ClearCalls();

    // Hands the frames to the driver, one read-available notification each, on the library's
    // thread; Receive waits until all are delivered, ReceiveAsync does not.
    void Receive(const std::vector<nican::TimedFrame>& frames);
    void ReceiveAsync(const std::vector<nican::TimedFrame>& frames);
    // Runs the notification with these state bits on the library's thread; its result.
    nican::State Notify(nican::State state);
    // Runs work on the library's thread between notifications.
    void Post(std::function<void()> work) { thread_.Post(std::move(work)); }
    // Frames handed over but not yet taken by ncRead.
    size_t Pending() const;

    std::atomic<nican::Status> configResult{0};
    std::atomic<nican::Status> openResult{0};
    std::atomic<nican::Status> notificationResult{0};
    std::atomic<nican::Status> writeResult{0};
    std::atomic<nican::Status> closeResult{0};
    std::atomic<nican::Status> resetResult{0};
    // Whether each successful ncWrite is followed by a write-success notification.
    std::atomic<bool> acknowledgeWrites{true};

    // Entry points reach the fake through here.
    static FakeNiCan* current;

    void Record(const std::string& call);
    nican::Status TakeFrame(void* data, uint32_t size);
    void Register(nican::NotifyCallback callback);
    void PostNotification(nican::State state);
    void WaitIdle() { thread_.WaitIdle(); }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    std::deque<nican::TimedFrame> pending_;
    nican::NotifyCallback callback_ = nullptr;
    DriverThread thread_;
};

nican::TimedFrame NiFrame(uint32_t id, std::vector<uint8_t> data);

}  // namespace orv::test
