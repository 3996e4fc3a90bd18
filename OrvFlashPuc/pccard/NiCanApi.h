#pragma once

#include <cstdint>

namespace orv {

// The NI-CAN Frame API entry points that CNiCanCard calls in "nican.dll", and that our own
// libnican provides. Shared so that driver and library cannot disagree on a signature.
namespace nican {

using Status = int32_t;  // 0 success, negative error, positive warning
using Handle = uint32_t;
using State = uint32_t;
// Called on a thread of the library; returns the states wanted from then on (0: none).
using NotifyCallback = State (*)(Handle object, State state, Status status, void* refData);

constexpr uint32_t kAttrStartOnOpen = 0x80000006;
constexpr uint32_t kAttrBaudRate = 0x80000007;
constexpr uint32_t kAttrReadQueueLength = 0x80000013;
constexpr uint32_t kAttrWriteQueueLength = 0x80000014;
constexpr uint32_t kAttrStandardComparator = 0x80010001;
constexpr uint32_t kAttrStandardMask = 0x80010002;
constexpr uint32_t kAttrExtendedComparator = 0x80010003;
constexpr uint32_t kAttrExtendedMask = 0x80010004;

constexpr uint32_t kOperationReset = 0x80000003;

constexpr State kStateReadAvailable = 1;
constexpr State kStateWriteSuccess = 2;
constexpr State kStateStopped = 4;

constexpr uint32_t kInfiniteTimeout = 0xFFFFFFFF;

#pragma pack(push, 1)
// What ncWrite takes.
struct Frame {
    uint32_t arbitrationId = 0;
    uint8_t isRemote = 0;
    uint8_t dataLength = 0;
    uint8_t data[8] = {};
};
// What ncRead gives: the frame with the time it was received.
struct TimedFrame {
    uint64_t timestamp = 0;
    uint32_t arbitrationId = 0;
    uint8_t isRemote = 0;
    uint8_t dataLength = 0;
    uint8_t data[8] = {};
};
#pragma pack(pop)
static_assert(sizeof(Frame) == 14);
static_assert(sizeof(TimedFrame) == 22);

}  // namespace nican

extern "C" {
nican::Status ncConfig(const char* objectName, uint32_t attributeCount,
                       const uint32_t* attributeIds, const uint32_t* attributeValues);
nican::Status ncOpenObject(const char* objectName, nican::Handle* object);
nican::Status ncCloseObject(nican::Handle object);
nican::Status ncRead(nican::Handle object, uint32_t size, void* data);
nican::Status ncWrite(nican::Handle object, uint32_t size, const void* data);
nican::Status ncReset(const char* interfaceName, uint32_t parameter);
nican::Status ncCreateNotification(nican::Handle object, nican::State desiredStates,
                                   uint32_t timeoutMs, void* refData,
                                   nican::NotifyCallback callback);
nican::Status ncAction(nican::Handle object, uint32_t operation, uint32_t parameter);
}

namespace nican {

// The entry points as the driver holds them after looking them up.
struct EntryPoints {
    decltype(&ncOpenObject) openObject = nullptr;
    decltype(&ncCloseObject) closeObject = nullptr;
    decltype(&ncRead) read = nullptr;
    decltype(&ncWrite) write = nullptr;
    decltype(&ncReset) reset = nullptr;
    decltype(&ncCreateNotification) createNotification = nullptr;
    decltype(&ncConfig) config = nullptr;
    decltype(&ncAction) action = nullptr;
};

}  // namespace nican

}  // namespace orv
