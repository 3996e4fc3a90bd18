// Our NI-CAN Frame API: one CAN interface object whose frames travel over the CAN link that
// ORV_CAN_LINK names. Notifications run on a thread of the library, one state at a time.
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "OrvCardLibs/LinkReceiver.h"
#include "pccard/NiCanApi.h"

namespace orv {
namespace {

constexpr const char* kLibraryName = "libnican";
constexpr nican::Handle kObjectHandle = 1;

// Our statuses; negative values are errors, positive ones warnings.
constexpr nican::Status kErrorLinkUnavailable = static_cast<nican::Status>(0xBFF60101);
constexpr nican::Status kErrorBadHandle = static_cast<nican::Status>(0xBFF60102);
constexpr nican::Status kErrorAlreadyOpen = static_cast<nican::Status>(0xBFF60103);
constexpr nican::Status kErrorBadArgument = static_cast<nican::Status>(0xBFF60104);
constexpr nican::Status kErrorSendFailed = static_cast<nican::Status>(0xBFF60105);
constexpr nican::Status kWarningNoFrame = 0x3FF60106;

bool IsInterfaceName(const char* name) {
    return name != nullptr && std::strncmp(name, "CAN", 3) == 0 && name[3] >= '0' && name[3] <= '9';
}

// Attributes kept from ncConfig for the next ncOpenObject.
struct Configuration {
    uint32_t readQueueLength = 100;
    bool startOnOpen = true;
};

class InterfaceObject {
  public:
    InterfaceObject(std::unique_ptr<cardlibs::LinkReceiver> link, bool started)
        : link_(std::move(link)) {
        link_->SetAccepting(started);
        link_->SetArrivalHandler([this] { Wake(); });
        notifier_ = std::thread(&InterfaceObject::Notify, this);
    }

    ~InterfaceObject() {
        Shutdown();
        link_.reset();  // before the lock and condition its arrival handler uses
    }

    bool IsNotifying() const { return notifier_.get_id() == std::this_thread::get_id(); }

    // Ends the notifications: once this returns, no callback is running any more.
    void Shutdown() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        if (notifier_.joinable()) {
            notifier_.join();
        }
        link_->SetAccepting(false);
    }

    nican::Status Register(nican::State states, nican::NotifyCallback callback, void* refData) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            desired_ = callback != nullptr ? states : 0;
            callback_ = callback;
            refData_ = refData;
            readStalled_ = false;
        }
        changed_.notify_all();
        return 0;
    }

    nican::Status Write(const nican::Frame& frame) {
        if (frame.dataLength > 8) {
            return kErrorBadArgument;
        }
        orv::CanFrame out;
        out.id = frame.arbitrationId;
        out.length = frame.dataLength;
        std::memcpy(out.data, frame.data, frame.dataLength);
        if (!link_->Send(out)) {
            return kErrorSendFailed;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++writesToConfirm_;
        }
        changed_.notify_all();
        return 0;
    }

    nican::Status Read(nican::TimedFrame& out) {
        cardlibs::ReceivedFrame received;
        if (!link_->Take(received)) {
            return kWarningNoFrame;
        }
        out = nican::TimedFrame();
        out.timestamp = received.timestampUs * 10;  // 100 ns units
        out.arbitrationId = received.frame.id;
        out.dataLength = received.frame.length;
        std::memcpy(out.data, received.frame.data, received.frame.length);
        std::lock_guard<std::mutex> lock(mutex_);
        readsSinceNotification_ = true;
        return 0;
    }

    // A reset object stops taking frames and forgets those it holds.
    void Reset() {
        link_->SetAccepting(false);
        link_->Clear();
    }

  private:
    void Wake() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            readStalled_ = false;
        }
        changed_.notify_all();
    }

    // Delivers one state per call: write successes first, so that a writer waiting for its
    // confirmation is not held up by a stream of received frames.
    void Notify() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stopping_) {
            nican::State state = 0;
            if (callback_ != nullptr && (desired_ & nican::kStateWriteSuccess) != 0 &&
                writesToConfirm_ > 0) {
                state = nican::kStateWriteSuccess;
                --writesToConfirm_;
            } else if (callback_ != nullptr && (desired_ & nican::kStateReadAvailable) != 0 &&
                       !readStalled_ && !link_->Empty()) {
                state = nican::kStateReadAvailable;
            }
            if (state == 0) {
                changed_.wait(lock);
                continue;
            }
            const nican::NotifyCallback callback = callback_;
            void* const refData = refData_;
            readsSinceNotification_ = false;
            lock.unlock();
            const nican::State wanted = callback(kObjectHandle, state, 0, refData);
            lock.lock();
            // A callback answers with the state it served to stay armed, with 0 to stop.
            if (wanted == 0) {
                desired_ = 0;
            }
            // A callback that leaves the frame waiting is not called for it again until
            // another one arrives.
            if (state == nican::kStateReadAvailable && !readsSinceNotification_) {
                readStalled_ = true;
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    nican::NotifyCallback callback_ = nullptr;
    void* refData_ = nullptr;
    nican::State desired_ = 0;
    int writesToConfirm_ = 0;
    bool readStalled_ = false;
    bool readsSinceNotification_ = false;
    bool stopping_ = false;
    std::unique_ptr<cardlibs::LinkReceiver> link_;
    std::thread notifier_;
};

std::mutex objectMutex;  // guards the two below; never held during a notification
Configuration configuration;
std::shared_ptr<InterfaceObject> openObject;

std::shared_ptr<InterfaceObject> FindObject(nican::Handle handle) {
    std::lock_guard<std::mutex> lock(objectMutex);
    return handle == kObjectHandle ? openObject : nullptr;
}

}  // namespace
}  // namespace orv

// The entry points keep the names their callers look up; ORV_EXPORT, set by the build, gives
// each its plain C name outside the library.
using namespace orv;

ORV_EXPORT nican::Status ncConfig(const char* objectName, uint32_t attributeCount,
                                  const uint32_t* attributeIds, const uint32_t* attributeValues) {
    if (!IsInterfaceName(objectName) ||
        (attributeCount > 0 && (attributeIds == nullptr || attributeValues == nullptr))) {
        return kErrorBadArgument;
    }
    std::lock_guard<std::mutex> lock(objectMutex);
    for (uint32_t i = 0; i < attributeCount; ++i) {
        if (attributeIds[i] == nican::kAttrReadQueueLength) {
            configuration.readQueueLength = attributeValues[i] == 0 ? 1 : attributeValues[i];
        } else if (attributeIds[i] == nican::kAttrStartOnOpen) {
            configuration.startOnOpen = attributeValues[i] != 0;
        }
        // The bit rate, write queue and acceptance filters are the link's business: every
        // frame on it is delivered.
    }
    return 0;
}

ORV_EXPORT nican::Status ncOpenObject(const char* objectName, nican::Handle* object) {
    if (!IsInterfaceName(objectName) || object == nullptr) {
        return kErrorBadArgument;
    }
    std::lock_guard<std::mutex> lock(objectMutex);
    if (openObject) {
        return kErrorAlreadyOpen;
    }
    auto link =
        cardlibs::LinkReceiver::OpenFromEnvironment(kLibraryName, configuration.readQueueLength);
    if (!link) {
        return kErrorLinkUnavailable;
    }
    openObject = std::make_shared<InterfaceObject>(std::move(link), configuration.startOnOpen);
    *object = kObjectHandle;
    return 0;
}

ORV_EXPORT nican::Status ncCloseObject(nican::Handle object) {
    std::shared_ptr<InterfaceObject> closing;
    {
        std::lock_guard<std::mutex> lock(objectMutex);
        if (object != kObjectHandle || !openObject) {
            return kErrorBadHandle;
        }
        if (openObject->IsNotifying()) {
            return kErrorBadArgument;  // a notification cannot wait for its own end
        }
        closing.swap(openObject);
    }
    closing->Shutdown();
    return 0;
}

ORV_EXPORT nican::Status ncRead(nican::Handle object, uint32_t size, void* data) {
    const std::shared_ptr<InterfaceObject> target = FindObject(object);
    if (!target) {
        return kErrorBadHandle;
    }
    if (data == nullptr || size < sizeof(nican::TimedFrame)) {
        return kErrorBadArgument;
    }
    nican::TimedFrame frame;
    const nican::Status status = target->Read(frame);
    if (status == 0) {
        std::memcpy(data, &frame, sizeof frame);
    }
    return status;
}

ORV_EXPORT nican::Status ncWrite(nican::Handle object, uint32_t size, const void* data) {
    const std::shared_ptr<InterfaceObject> target = FindObject(object);
    if (!target) {
        return kErrorBadHandle;
    }
    if (data == nullptr || size < sizeof(nican::Frame)) {
        return kErrorBadArgument;
    }
    nican::Frame frame;
    std::memcpy(&frame, data, sizeof frame);
    return target->Write(frame);
}

ORV_EXPORT nican::Status ncReset(const char* interfaceName, uint32_t /*parameter*/) {
    if (!IsInterfaceName(interfaceName)) {
        return kErrorBadArgument;
    }
    std::shared_ptr<InterfaceObject> target = FindObject(kObjectHandle);
    if (target) {
        target->Reset();
    }
    return 0;
}

ORV_EXPORT nican::Status ncCreateNotification(nican::Handle object, nican::State desiredStates,
                                              uint32_t /*timeoutMs*/, void* refData,
                                              nican::NotifyCallback callback) {
    const std::shared_ptr<InterfaceObject> target = FindObject(object);
    if (!target) {
        return kErrorBadHandle;
    }
    return target->Register(desiredStates, callback, refData);
}

ORV_EXPORT nican::Status ncAction(nican::Handle object, uint32_t operation,
                                  uint32_t /*parameter*/) {
    const std::shared_ptr<InterfaceObject> target = FindObject(object);
    if (!target) {
        return kErrorBadHandle;
    }
    if (operation != nican::kOperationReset) {
        return kErrorBadArgument;
    }
    target->Reset();
    return 0;
}
