#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "FakeLibraryOpener.h"
#include "pccard/CanApi.h"

namespace orv::test {

// The USB adapter's library in the test's process: records the calls with their values,
// answers with the results a test sets, and hands out the records a test queues.
class FakeCanApi {
  public:
    FakeCanApi();
    ~FakeCanApi();
    FakeCanApi(const FakeCanApi&) = delete;
    FakeCanApi& operator=(const FakeCanApi&) = delete;

    // The fourteen entry points under their names.
    FakeLibraryOpener::Table Table() const;

    // Calls other than ca_GetData_1 and ca_TransmitCanCard_1, which are counted instead.
    std::vector<std::string> Calls() const;
    void ClearCalls();
    std::vector<canapi::TransmitRecord> Transmitted() const;

    // Queued at once, so the driver's thread takes them in one pass.
    void Queue(const std::vector<canapi::ReceiveRecord>& records);
    size_t Queued() const;

    std::atomic<canapi::Result> initApiResult{1};
    std::atomic<canapi::Result> resetResult{1};
    std::atomic<canapi::Result> initCardResult{1};
    // Refuses this many transmissions before accepting again (-1: refuses all).
    std::atomic<int> refuseTransmits{0};
    std::atomic<int> transmitCalls{0};
    std::atomic<int> getDataCalls{0};

    static FakeCanApi* current;

    void Record(const std::string& call);
    canapi::Result Transmit(uint32_t card, uint32_t flags, const canapi::TransmitRecord& record);
    canapi::Result Deliver(canapi::ReceiveRecord* record);

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    std::vector<canapi::TransmitRecord> transmitted_;
    std::deque<canapi::ReceiveRecord> queue_;
};

canapi::ReceiveRecord UsbFrame(uint32_t id, std::vector<uint8_t> data,
                               uint32_t type = canapi::kRecordCanFrame);

}  // namespace orv::test
