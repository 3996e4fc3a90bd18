#include "FakeCanApi.h"

#include <cstdio>

namespace orv::test {
namespace {

std::string Words(const uint32_t* words, size_t count) {
    std::string text;
    char cell[16];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(cell, sizeof cell, "%s%x", i == 0 ? "" : ",", words[i]);
        text += cell;
    }
    return text;
}

FakeCanApi& Fake() {
    return *FakeCanApi::current;
}

canapi::Result FakeInitApi(uint32_t version, uint32_t bufferSize) {
    const uint32_t args[] = {version, bufferSize};
    Fake().Record("ca_InitApi_1 " + Words(args, 2));
    return Fake().initApiResult;
}
canapi::Result FakeResetCanCard() {
    Fake().Record("ca_ResetCanCard_1");
    return Fake().resetResult;
}
canapi::Result FakeInitCanCard(uint32_t card, uint32_t mode, uint32_t timing0, uint32_t timing1,
                               const canapi::FilterBlock* filters, uint32_t rxQueue,
                               uint32_t txQueue, uint32_t r0, uint32_t r1, uint32_t r2) {
    const uint32_t before[] = {card, mode, timing0, timing1};
    const uint32_t after[] = {rxQueue, txQueue, r0, r1, r2};
    Fake().Record("ca_InitCanCard_1 " + Words(before, 4) + " [" + Words(filters->words, 16) + "] " +
                  Words(after, 5));
    return Fake().initCardResult;
}
canapi::Result FakeTransmit(uint32_t card, uint32_t flags, const canapi::TransmitRecord* record) {
    return Fake().Transmit(card, flags, *record);
}
canapi::Result FakeGetData(canapi::ReceiveRecord* record) {
    return Fake().Deliver(record);
}
canapi::Result FakeInstruction(const canapi::InstructionRecord* record) {
    Fake().Record("ca_Instruction_1 " +
                  Words(reinterpret_cast<const uint32_t*>(record), sizeof *record / 4));
    return 0;
}
canapi::Result FakeCloseApi() {
    Fake().Record("ca_CloseApi");
    return 1;
}
// Looked up but never to be called by the driver.
canapi::Result NeverCalled() {
    Fake().Record("unexpected call");
    return 0;
}
canapi::Result NeverCalledWith(uint32_t) {
    return NeverCalled();
}
canapi::Result NeverCalledWith2(uint32_t, uint32_t) {
    return NeverCalled();
}
canapi::Result NeverCalledWith3(uint32_t, uint32_t, uint32_t) {
    return NeverCalled();
}
canapi::Result NeverCalledWithBuffer(uint8_t*, uint32_t) {
    return NeverCalled();
}

}  // namespace

FakeCanApi* FakeCanApi::current = nullptr;

FakeCanApi::FakeCanApi() {
    current = this;
}
FakeCanApi::~FakeCanApi() {
    current = nullptr;
}

FakeLibraryOpener::Table FakeCanApi::Table() const {
    return {{"ca_InitApi_1", AsEntryPoint(&FakeInitApi)},
            {"ca_ResetCanCard_1", AsEntryPoint(&FakeResetCanCard)},
            {"ca_InitCanCard_1", AsEntryPoint(&FakeInitCanCard)},
            {"ca_TransmitCanCard_1", AsEntryPoint(&FakeTransmit)},
            {"ca_GetData_1", AsEntryPoint(&FakeGetData)},
            {"ca_ResetSoftwareFilterMask_1", AsEntryPoint(&NeverCalled)},
            {"ca_SetAllId_1", AsEntryPoint(&NeverCalledWith)},
            {"ca_SetFilterId_1", AsEntryPoint(&NeverCalledWith2)},
            {"ca_Instruction_1", AsEntryPoint(&FakeInstruction)},
            {"ca_GetCharData_1", AsEntryPoint(&NeverCalledWithBuffer)},
            {"ca_GetCharCplxData_1", AsEntryPoint(&NeverCalledWithBuffer)},
            {"ca_ClearFifo_1", AsEntryPoint(&NeverCalled)},
            {"ca_SetFilterVar_1", AsEntryPoint(&NeverCalledWith3)},
            {"ca_CloseApi", AsEntryPoint(&FakeCloseApi)}};
}

void FakeCanApi::Record(const std::string& call) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(call);
}

std::vector<std::string> FakeCanApi::Calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

void FakeCanApi::ClearCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}

std::vector<canapi::TransmitRecord> FakeCanApi::Transmitted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return transmitted_;
}

canapi::Result FakeCanApi::Transmit(uint32_t card, uint32_t flags,
                                    const canapi::TransmitRecord& record) {
    ++transmitCalls;
    if (card != 1 || flags != 0) {
        Record("ca_TransmitCanCard_1 with unexpected arguments");
        return 0;
    }
    int refusals = refuseTransmits;
    if (refusals != 0) {
        if (refusals > 0) {
            --refuseTransmits;
        }
        return 0;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    transmitted_.push_back(record);
    return 1;
}

void FakeCanApi::Queue(const std::vector<canapi::ReceiveRecord>& records) {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.insert(queue_.end(), records.begin(), records.end());
}

size_t FakeCanApi::Queued() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}

canapi::Result FakeCanApi::Deliver(canapi::ReceiveRecord* record) {
    ++getDataCalls;
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.empty()) {
        return 0;
    }
    *record = queue_.front();
    queue_.pop_front();
    return 1;
}

canapi::ReceiveRecord UsbFrame(uint32_t id, std::vector<uint8_t> data, uint32_t type) {
    canapi::ReceiveRecord record;
    record.type = type;
    record.id = id;
    record.lengthWord = 0xA0 | static_cast<uint32_t>(data.size());  // upper bits are not ours
    for (size_t i = 0; i < data.size() && i < 8; ++i) {
        record.data[i] = 0xFF00 | data[i];
    }
    return record;
}

}  // namespace orv::test
