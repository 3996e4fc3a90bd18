#include "pccard/NiCanCard.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "os/Clock.h"
#include "os/Console.h"

namespace orv {

namespace {

constexpr const char* kInterfaceName = "CAN0";
constexpr uint32_t kWriteSuccessWaitMs = 350;
constexpr uint32_t kResetToCloseMs = 300;

std::atomic<CNiCanCard*> currentCard{nullptr};
std::atomic<bool> running{false};

}  // namespace

CNiCanCard::CNiCanCard() : LibraryCard(ReceiveRing::EventReset::BeforeUnlock) {
    currentCard = this;
    running = true;
    LoadLibrary();
}

bool CNiCanCard::LoadLibrary() {
    const Loading loading = LoadDriverLibrary("nican.dll", [this](const LoadedLibrary& lib) {
        return BindEntryPoint(lib, "ncOpenObject", api_.openObject) &&
               BindEntryPoint(lib, "ncCloseObject", api_.closeObject) &&
               BindEntryPoint(lib, "ncRead", api_.read) &&
               BindEntryPoint(lib, "ncWrite", api_.write) &&
               BindEntryPoint(lib, "ncReset", api_.reset) &&
               BindEntryPoint(lib, "ncCreateNotification", api_.createNotification) &&
               BindEntryPoint(lib, "ncConfig", api_.config) &&
               BindEntryPoint(lib, "ncAction", api_.action);
    });
    if (loading == Loading::NoLibrary) {
        ConsolePrintf("ERROR: Can not load nican.dll library\n");
    } else if (loading == Loading::NoEntryPoint) {
        ConsolePrintf(
            "ERROR: GetProcAddress failed, can not find nican.dll library or a method in the "
            "dll\n");
    }
    return loading == Loading::Done;
}

CNiCanCard::~CNiCanCard() {
    if (library_) {
        running = false;
        if (objectHandle_ != 0) {
            CloseObject();
        }
    }
    library_.reset();
    CNiCanCard* self = this;
    currentCard.compare_exchange_strong(self, nullptr);
}

int CNiCanCard::OpenCard() {
    currentCard = this;
    const uint32_t ids[] = {nican::kAttrBaudRate,           nican::kAttrStartOnOpen,
                            nican::kAttrReadQueueLength,    nican::kAttrWriteQueueLength,
                            nican::kAttrStandardComparator, nican::kAttrStandardMask,
                            nican::kAttrExtendedComparator, nican::kAttrExtendedMask};
    const uint32_t values[] = {baudRate_, 1, 100, 20, 0, 0, 0, 0};
    const nican::Status configured = api_.config(kInterfaceName, std::size(ids), ids, values);
    if (configured != 0) {
        return configured;
    }
    txDoneEvent_.Reset();
    ring_.ResetSignal();
    const nican::Status opened = api_.openObject(kInterfaceName, &objectHandle_);
    if (opened != 0) {
        return opened;
    }
    running = true;
    if (api_.createNotification(
            objectHandle_,
            nican::kStateReadAvailable | nican::kStateWriteSuccess | nican::kStateStopped,
            nican::kInfiniteTimeout, nullptr, &OnNotification) != 0) {
        return CARD_ERR_DRIVER;
    }
    return 0;
}

// Resets and closes the open object; the flag is cleared once more under the ring lock so
// that a callback storing a frame right now has finished when this returns.
int CNiCanCard::CloseObject() {
    api_.action(objectHandle_, nican::kOperationReset, 0);
    SleepMs(kResetToCloseMs);
    const nican::Status closed = api_.closeObject(objectHandle_);
    objectHandle_ = 0;
    {
        std::lock_guard lock(ring_.Section());
        running = false;
    }
    return closed != 0 ? CARD_ERR_DRIVER : 0;
}

int CNiCanCard::CloseCard() {
    running = false;
    if (objectHandle_ == 0) {
        return CARD_ERR_DRIVER;
    }
    return CloseObject();
}

int CNiCanCard::WriteFrame(uint16_t id, const uint8_t* data, int length) {
    nican::Frame frame;
    frame.arbitrationId = id;
    frame.dataLength = static_cast<uint8_t>(length);
    if (data != nullptr && length > 0) {
        std::memcpy(frame.data, data, std::min<size_t>(static_cast<size_t>(length), 8));
    }
    if (api_.write(objectHandle_, sizeof frame, &frame) != 0) {
        return CARD_ERR_DRIVER;
    }
    if (txDoneEvent_.Wait(kWriteSuccessWaitMs) == ManualResetEvent::WaitResult::TimedOut) {
        return CARD_ERR_TIMEOUT;
    }
    txDoneEvent_.Reset();
    return 0;
}

int CNiCanCard::ResetCard() {
    return api_.reset(kInterfaceName, 0) != 0 ? CARD_ERR_DRIVER : 0;
}

nican::State CNiCanCard::OnNotification(nican::Handle object, nican::State state,
                                        nican::Status /*status*/, void* /*refData*/) {
    CNiCanCard* card = currentCard;
    if ((state & nican::kStateStopped) != 0 || !running || card == nullptr) {
        return 0;
    }
    if ((state & nican::kStateReadAvailable) != 0) {
        // One frame per notification; the library notifies again while more are waiting.
        nican::TimedFrame received;
        if (card->api_.read(object, sizeof received, &received) == 0) {
            CanCardFrame frame;
            frame.id = received.arbitrationId;
            frame.length = std::min<uint32_t>(received.dataLength, 8);
            std::memcpy(frame.data, received.data, frame.length);
            card->ring_.StoreKeepingOldest(frame);
        }
    } else if ((state & nican::kStateWriteSuccess) != 0) {
        card->txDoneEvent_.Set();
    }
    return running ? state : 0;
}

}  // namespace orv
