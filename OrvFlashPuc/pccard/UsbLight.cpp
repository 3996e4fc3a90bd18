#include "pccard/UsbLight.h"

#include <algorithm>
#include <atomic>
#include <iterator>

#include "os/Clock.h"

namespace orv {

namespace {

constexpr uint32_t kDisableSettleMs = 100;
constexpr uint32_t kThreadEndMs = 400;
constexpr uint64_t kTransmitRetryMs = 100;
constexpr uint32_t kPollIntervalMs = 1;

// The receive thread reaches its adapter through here; there is one per process.
std::atomic<USBLight*> currentAdapter{nullptr};

uint32_t WordAt(const uint8_t* bytes, size_t offset) {
    return static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<uint32_t>(bytes[offset + 2]) << 16 |
           static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

// The frame a ca_GetData_1 record carries; false for records of other types.
bool FrameFromRecord(const uint8_t* record, CanCardFrame& frame) {
    if (WordAt(record, canapi::kReceiveTypeOffset) != canapi::kRecordCanFrame) {
        return false;
    }
    frame.id = WordAt(record, canapi::kReceiveIdOffset) & 0xFFFF;
    frame.length = std::min<uint32_t>(record[canapi::kReceiveLengthOffset] & 0x0F, 8);
    for (uint32_t i = 0; i < frame.length; ++i) {
        frame.data[i] = record[canapi::kReceiveDataOffset + 4 * i];
    }
    return true;
}

}  // namespace

USBLight::USBLight() : LibraryCard(ReceiveRing::EventReset::AfterUnlock) {
    currentAdapter = this;
    if (!LoadLibrary()) {
        return;
    }
    receiveThread_ = std::thread(&USBLight::ReceiveThread);
    if (api_.initApi(canapi::kApiVersion, canapi::kApiBufferSize) != 0) {
        ready_ = 1;
    }
}

bool USBLight::LoadLibrary() {
    const Loading loading = LoadDriverLibrary("CANAPI.DLL", [this](const LoadedLibrary& lib) {
        return BindEntryPoint(lib, "ca_InitApi_1", api_.initApi) &&
               BindEntryPoint(lib, "ca_ResetCanCard_1", api_.resetCanCard) &&
               BindEntryPoint(lib, "ca_InitCanCard_1", api_.initCanCard) &&
               BindEntryPoint(lib, "ca_TransmitCanCard_1", api_.transmitCanCard) &&
               BindEntryPoint(lib, "ca_GetData_1", api_.getData) &&
               BindEntryPoint(lib, "ca_ResetSoftwareFilterMask_1", api_.resetSoftwareFilterMask) &&
               BindEntryPoint(lib, "ca_SetAllId_1", api_.setAllId) &&
               BindEntryPoint(lib, "ca_SetFilterId_1", api_.setFilterId) &&
               BindEntryPoint(lib, "ca_Instruction_1", api_.instruction) &&
               BindEntryPoint(lib, "ca_GetCharData_1", api_.getCharData) &&
               BindEntryPoint(lib, "ca_GetCharCplxData_1", api_.getCharCplxData) &&
               BindEntryPoint(lib, "ca_ClearFifo_1", api_.clearFifo) &&
               BindEntryPoint(lib, "ca_SetFilterVar_1", api_.setFilterVar) &&
               BindEntryPoint(lib, "ca_CloseApi", api_.closeApi);
    });
    return loading == Loading::Done;
}

USBLight::~USBLight() {
    if (ready_ != 0) {
        if (running_ != 0 && library_) {
            DisableReception();
        }
        stopEvent_.Set();
        SleepMs(kThreadEndMs);
    }
    // Also when the library refused to start: the thread exists and must end before the
    // library goes.
    stopEvent_.Set();
    if (receiveThread_.joinable()) {
        receiveThread_.join();
    }
    if (ready_ != 0) {
        ready_ = 0;
        api_.closeApi();
    }
    library_.reset();
    USBLight* self = this;
    currentAdapter.compare_exchange_strong(self, nullptr);
}

bool USBLight::InitCard() {
    if (!library_ || ready_ == 0) {
        return false;
    }
    if (api_.resetCanCard() == 0) {
        return false;
    }
    const canapi::InstructionRecord instruction;
    api_.instruction(&instruction);
    const canapi::FilterBlock filters;
    return api_.initCanCard(1, 0, 0, 0, &filters, 201, 62, 0, 0, 0) != 0;
}

int USBLight::EnableReception() {
    if (!InitCard() || !library_ || ready_ == 0) {
        return CARD_ERR_NO_LIBRARY;
    }
    enableEvent_.Set();
    running_ = 1;
    return 0;
}

void USBLight::DisableReception() {
    enableEvent_.Reset();
    SleepMs(kDisableSettleMs);
}

int USBLight::OpenCard() {
    return EnableReception();
}

int USBLight::CloseCard() {
    if (running_ != 0 && library_) {
        DisableReception();
    }
    return 0;
}

int USBLight::WriteFrame(uint16_t id, const uint8_t* data, int length) {
    return Transmit(id, data, length) ? 0 : CARD_ERR_NO_LIBRARY;
}

int USBLight::ResetCard() {
    if (running_ != 0) {
        DisableReception();
    }
    return EnableReception();
}

// The adapter may be busy for a moment; it gets 100 ms to take the frame.
bool USBLight::Transmit(uint16_t id, const uint8_t* data, int length) {
    if (ready_ == 0) {
        return false;
    }
    canapi::TransmitRecord record;
    record.id = id;
    record.length = static_cast<uint32_t>(length);
    for (int i = 0; data != nullptr && i < std::min(length, 8); ++i) {
        record.data[i] = data[i];
    }
    const uint64_t start = NowMs();
    if (api_.transmitCanCard(1, 0, &record) != 0) {
        return true;
    }
    for (;;) {
        if (ready_ == 0 || NowMs() - start >= kTransmitRetryMs) {
            return false;
        }
        SleepMs(0);
        if (api_.transmitCanCard(1, 0, &record) != 0) {
            return true;
        }
    }
}

// The thread's 1 ms pauses are waits on the stop event: the thread ends as soon as it is told.
void USBLight::ReceiveThread() {
    USBLight* adapter = currentAdapter;
    if (adapter == nullptr) {
        return;
    }
    while (!adapter->stopEvent_.IsSet()) {
        adapter->ReceiveWhileEnabled();
        if (adapter->stopEvent_.Wait(kPollIntervalMs) == ManualResetEvent::WaitResult::Signalled) {
            return;
        }
    }
}

void USBLight::ReceiveWhileEnabled() {
    while (enableEvent_.IsSet()) {
        if (stopEvent_.IsSet()) {
            return;
        }
        bool stored = false;
        uint8_t record[canapi::kReceiveBufferBytes];
        for (;;) {
            // Zeroed for every record, so that nothing of the one before reads as this one's.
            std::fill(std::begin(record), std::end(record), 0);
            if (api_.getData(record) != 1) {
                break;
            }
            CanCardFrame frame;
            if (FrameFromRecord(record, frame)) {
                ring_.StoreOverwriting(frame);
                stored = true;
            }
        }
        if (stored) {
            ring_.SignalStored();
        }
        stopEvent_.Wait(kPollIntervalMs);
    }
}

}  // namespace orv
