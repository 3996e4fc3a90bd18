#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "canlink/CanLink.h"
#include "standins/CommConnector.h"

// Stand-in for the instrument's CANopen library: sends NMT commands and CAN frames over a link
// and delivers every received frame, on a thread of its own, to frameCallback.
namespace CanOpenLibrary {

#pragma pack(push, 1)
// One received frame as the engine delivers it.
struct FrameRecord {
    uint16_t id = 0;
    uint16_t length = 0;  // data length code; the transports read only id and data
    uint8_t data[8] = {};
};
#pragma pack(pop)
static_assert(sizeof(FrameRecord) == 12);

struct EngineCounters {
    uint64_t framesSent = 0;
    uint64_t framesDelivered = 0;
};

// The order of the operations is the library's slot order; callers rely on it.
class ICanOpenEngine {
  public:
    // 1
    virtual ~ICanOpenEngine() = default;
    // 2: opens the route through the connector and binds to it; 0 on success.
    virtual int Connect(TylCommunicationLibraryNG::ICommConnector* connector,
                        const std::wstring& routeLeft, const std::wstring& routeRight) = 0;
    // 3: last shutdown step: lets go of the link.
    virtual void Disconnect() = 0;
    // 4: second shutdown step: waits until the delivery thread has ended.
    virtual void Join() = 0;
    // 5: starts delivering frames to frameCallback; 0 on success.
    virtual int Start() = 0;
    // 6: first shutdown step: asks the delivery thread to end and unblocks it.
    virtual void Stop() = 0;
    // 7: binds to a link that is already open; 0 on success.
    virtual int Attach(std::unique_ptr<orv::CanLink> link) = 0;
    // 8: why the last Connect failed or the link was lost; empty when neither happened.
    virtual std::string LastError() const = 0;
    // 9: true while the delivery thread receives.
    virtual bool IsRunning() const = 0;
    // 10: sends the NMT frame {specifier, node} with identifier 0; scratch gets the data sent.
    virtual int SendNmt(const uint8_t* specifier, const uint8_t* nodeId, uint8_t* scratch) = 0;
    // 11: sends one frame; scratch gets the data sent; 0 when the frame went out.
    virtual int SendCanFrame(const uint16_t* id, const uint8_t* data, const uint8_t* length,
                             uint8_t* scratch) = 0;
    // 12
    virtual EngineCounters Counters() const = 0;
    // 13: marks (state 1) or unmarks (0) the node the caller talks to; a lost link is reported
    // with it.
    virtual int SetNodeState(const uint8_t* nodeId, const uint32_t* state) = 0;

    // Called once per received frame on the delivery thread; the record lives for the call.
    std::function<void(const unsigned char*)> frameCallback;
};

std::unique_ptr<ICanOpenEngine> CreateCanOpenEngine();

}  // namespace CanOpenLibrary
