// Our USB adapter API: one adapter whose frames travel over the CAN link that ORV_CAN_LINK
// names. Received frames wait in the library until ca_GetData_1 collects them.
#include <cstring>
#include <memory>
#include <mutex>

#include "OrvCardLibs/LinkReceiver.h"
#include "pccard/CanApi.h"

namespace orv {
namespace {

constexpr const char* kLibraryName = "libcanapi";
constexpr size_t kReceiveCapacity = 4096;
constexpr uint32_t kOurCard = 1;

// The API is started once; the card must be initialised before frames flow.
std::mutex apiMutex;
std::unique_ptr<cardlibs::LinkReceiver> apiLink;  // null until the API is started
bool cardInitialised = false;

}  // namespace
}  // namespace orv

// The entry points keep the names their callers look up; ORV_EXPORT, set by the build, gives
// each its plain C name outside the library.
using namespace orv;

ORV_EXPORT canapi::Result ca_InitApi_1(uint32_t /*version*/, uint32_t /*bufferSize*/) {
    std::lock_guard<std::mutex> lock(apiMutex);
    if (!apiLink) {
        apiLink = cardlibs::LinkReceiver::OpenFromEnvironment(kLibraryName, kReceiveCapacity);
        if (apiLink) {
            apiLink->SetAccepting(false);
        }
    }
    return apiLink ? 1 : 0;
}

ORV_EXPORT canapi::Result ca_CloseApi() {
    std::unique_ptr<cardlibs::LinkReceiver> closing;
    {
        std::lock_guard<std::mutex> lock(apiMutex);
        closing.swap(apiLink);
        cardInitialised = false;
    }
    return closing ? 1 : 0;
}

// A reset card takes no frames and forgets those it held, until it is initialised again.
ORV_EXPORT canapi::Result ca_ResetCanCard_1() {
    std::lock_guard<std::mutex> lock(apiMutex);
    if (!apiLink) {
        return 0;
    }
    cardInitialised = false;
    apiLink->SetAccepting(false);
    apiLink->Clear();
    return 1;
}

ORV_EXPORT canapi::Result ca_Instruction_1(const canapi::InstructionRecord* record) {
    std::lock_guard<std::mutex> lock(apiMutex);
    return apiLink && record != nullptr ? 1 : 0;
}

// The bit timing and the acceptance filters are the apiLink's business: every frame on it is
// delivered.
ORV_EXPORT canapi::Result ca_InitCanCard_1(uint32_t card, uint32_t /*mode*/,
                                           uint32_t /*bitTiming0*/, uint32_t /*bitTiming1*/,
                                           const canapi::FilterBlock* filters,
                                           uint32_t /*receiveQueueLength*/,
                                           uint32_t /*transmitQueueLength*/, uint32_t /*r0*/,
                                           uint32_t /*r1*/, uint32_t /*r2*/) {
    std::lock_guard<std::mutex> lock(apiMutex);
    if (!apiLink || card != kOurCard || filters == nullptr) {
        return 0;
    }
    cardInitialised = true;
    apiLink->SetAccepting(true);
    return 1;
}

ORV_EXPORT canapi::Result ca_TransmitCanCard_1(uint32_t card, uint32_t /*flags*/,
                                               const canapi::TransmitRecord* record) {
    std::lock_guard<std::mutex> lock(apiMutex);
    if (!apiLink || !cardInitialised || card != kOurCard || record == nullptr ||
        record->length > 8 || record->id > 0x7FF) {
        return 0;
    }
    orv::CanFrame frame;
    frame.id = record->id;
    frame.length = static_cast<uint8_t>(record->length);
    for (uint32_t i = 0; i < record->length; ++i) {
        frame.data[i] = static_cast<uint8_t>(record->data[i]);
    }
    return apiLink->Send(frame) ? 1 : 0;
}

ORV_EXPORT canapi::Result ca_GetData_1(uint8_t* buffer) {
    std::lock_guard<std::mutex> lock(apiMutex);
    cardlibs::ReceivedFrame received;
    if (!apiLink || buffer == nullptr || !apiLink->Take(received)) {
        return 0;
    }
    canapi::ReceiveRecord record;
    record.type = canapi::kRecordCanFrame;
    record.id = received.frame.id;
    record.lengthWord = received.frame.length;
    for (uint32_t i = 0; i < received.frame.length; ++i) {
        record.data[i] = received.frame.data[i];
    }
    record.timestamp = static_cast<uint32_t>(received.timestampUs / 1000);
    std::memcpy(buffer, &record, sizeof record);
    return 1;
}

ORV_EXPORT canapi::Result ca_ClearFifo_1() {
    std::lock_guard<std::mutex> lock(apiMutex);
    if (!apiLink) {
        return 0;
    }
    apiLink->Clear();
    return 1;
}

// Software filters are accepted and have no effect: the adapter delivers every frame.
ORV_EXPORT canapi::Result ca_ResetSoftwareFilterMask_1() {
    return 1;
}
ORV_EXPORT canapi::Result ca_SetAllId_1(uint32_t /*accept*/) {
    return 1;
}
ORV_EXPORT canapi::Result ca_SetFilterId_1(uint32_t /*id*/, uint32_t /*accept*/) {
    return 1;
}
ORV_EXPORT canapi::Result ca_SetFilterVar_1(uint32_t /*first*/, uint32_t /*last*/,
                                            uint32_t /*accept*/) {
    return 1;
}

// The adapter carries no character data.
ORV_EXPORT canapi::Result ca_GetCharData_1(uint8_t* /*buffer*/, uint32_t /*capacity*/) {
    return 0;
}
ORV_EXPORT canapi::Result ca_GetCharCplxData_1(uint8_t* /*buffer*/, uint32_t /*capacity*/) {
    return 0;
}
