#include "FakeNiCan.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <future>

namespace orv::test {
namespace {

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

nican::Status FakeConfig(const char* objectName, uint32_t count, const uint32_t* ids,
                         const uint32_t* values) {
    std::string call = std::string("ncConfig ") + objectName + " " + std::to_string(count);
    for (uint32_t i = 0; i < count; ++i) {
        call += " " + Hex(ids[i]) + "=" + std::to_string(values[i]);
    }
    FakeNiCan::current->Record(call);
    return FakeNiCan::current->configResult;
}

nican::Status FakeOpenObject(const char* objectName, nican::Handle* object) {
    FakeNiCan::current->Record(std::string("ncOpenObject ") + objectName);
    const nican::Status status = FakeNiCan::current->openResult;
    if (status == 0) {
        *object = FakeNiCan::kHandle;
    }
    return status;
}

nican::Status FakeCloseObject(nican::Handle object) {
    FakeNiCan::current->Record("ncCloseObject " + Hex(object));
    // As the real library: no notification is still running once the object is closed.
    FakeNiCan::current->WaitIdle();
    return FakeNiCan::current->closeResult;
}

nican::Status FakeRead(nican::Handle object, uint32_t size, void* data) {
    FakeNiCan::current->Record("ncRead " + Hex(object) + " " + std::to_string(size));
    return FakeNiCan::current->TakeFrame(data, size);
}

nican::Status FakeWrite(nican::Handle object, uint32_t size, const void* data) {
    nican::Frame frame;
    std::memcpy(&frame, data, std::min<size_t>(size, sizeof frame));
    std::string call = "ncWrite " + Hex(object) + " " + std::to_string(size) +
                       " id=" + Hex(frame.arbitrationId) +
                       " remote=" + std::to_string(frame.isRemote) +
                       " length=" + std::to_string(frame.dataLength) + " data=";
    for (uint8_t byte : frame.data) {
        call += Hex(byte) + ".";
    }
    FakeNiCan::current->Record(call);
    const nican::Status status = FakeNiCan::current->writeResult;
    if (status == 0 && FakeNiCan::current->acknowledgeWrites) {
        FakeNiCan::current->PostNotification(nican::kStateWriteSuccess);
    }
    return status;
}

nican::Status FakeReset(const char* interfaceName, uint32_t parameter) {
    FakeNiCan::current->Record(std::string("ncReset ") + interfaceName + " " +
                               std::to_string(parameter));
    return FakeNiCan::current->resetResult;
}

nican::Status FakeCreateNotification(nican::Handle object, nican::State desiredStates,
                                     uint32_t timeoutMs, void* refData,
                                     nican::NotifyCallback callback) {
    FakeNiCan::current->Record("ncCreateNotification " + Hex(object) + " " + Hex(desiredStates) +
                               " " + Hex(timeoutMs) + (refData == nullptr ? " null" : " ref") +
                               (callback == nullptr ? " none" : " callback"));
    const nican::Status status = FakeNiCan::current->notificationResult;
    if (status == 0) {
        FakeNiCan::current->Register(callback);
    }
    return status;
}

nican::Status FakeAction(nican::Handle object, uint32_t operation, uint32_t parameter) {
    FakeNiCan::current->Record("ncAction " + Hex(object) + " " + Hex(operation) + " " +
                               std::to_string(parameter));
    return 0;
}

}  // namespace

FakeNiCan* FakeNiCan::current = nullptr;

FakeNiCan::FakeNiCan() {
    current = this;
}

FakeNiCan::~FakeNiCan() {
    thread_.WaitIdle();
    current = nullptr;
}

FakeLibraryOpener::Table FakeNiCan::Table() const {
    return {{"ncOpenObject", AsEntryPoint(&FakeOpenObject)},
            {"ncCloseObject", AsEntryPoint(&FakeCloseObject)},
            {"ncRead", AsEntryPoint(&FakeRead)},
            {"ncWrite", AsEntryPoint(&FakeWrite)},
            {"ncReset", AsEntryPoint(&FakeReset)},
            {"ncCreateNotification", AsEntryPoint(&FakeCreateNotification)},
            {"ncConfig", AsEntryPoint(&FakeConfig)},
            {"ncAction", AsEntryPoint(&FakeAction)}};
}

void FakeNiCan::Record(const std::string& call) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(call);
}

std::vector<std::string> FakeNiCan::Calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

void FakeNiCan::ClearCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}

size_t FakeNiCan::Pending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_.size();
}

nican::Status FakeNiCan::TakeFrame(void* data, uint32_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (pending_.empty() || size < sizeof(nican::TimedFrame)) {
        return -1;
    }
    std::memcpy(data, &pending_.front(), sizeof(nican::TimedFrame));
    pending_.pop_front();
    return 0;
}

void FakeNiCan::Register(nican::NotifyCallback callback) {
    std::lock_guard<std::mutex> lock(mutex_);
    callback_ = callback;
}

void FakeNiCan::PostNotification(nican::State state) {
    thread_.Post([this, state] {
        nican::NotifyCallback callback;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            callback = callback_;
        }
        if (callback != nullptr) {
            callback(kHandle, state, 0, nullptr);
        }
    });
}

void FakeNiCan::ReceiveAsync(const std::vector<nican::TimedFrame>& frames) {
    for (const nican::TimedFrame& frame : frames) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            pending_.push_back(frame);
        }
        PostNotification(nican::kStateReadAvailable);
    }
}

void FakeNiCan::Receive(const std::vector<nican::TimedFrame>& frames) {
    ReceiveAsync(frames);
    thread_.WaitIdle();
}

nican::State FakeNiCan::Notify(nican::State state) {
    std::promise<nican::State> result;
    thread_.Post([this, state, &result] {
        nican::NotifyCallback callback;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            callback = callback_;
        }
        result.set_value(callback != nullptr ? callback(kHandle, state, 0, nullptr) : 0);
    });
    return result.get_future().get();
}

nican::TimedFrame NiFrame(uint32_t id, std::vector<uint8_t> data) {
    nican::TimedFrame frame;
    frame.timestamp = 0x0102030405060708ULL;
    frame.arbitrationId = id;
    frame.dataLength = static_cast<uint8_t>(data.size());
    std::copy_n(data.begin(), std::min<size_t>(data.size(), 8), frame.data);
    return frame;
}

}  // namespace orv::test
