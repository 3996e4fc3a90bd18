#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "canlink/CanLink.h"
#include "os/ManualResetEvent.h"
#include "standins/CanOpenEngine.h"
#include "standins/CommConnector.h"
#include "transport/CommandExecutingAdapter.h"
#include "transport/ExecutionPolicies.h"
#include "transport/FrameRing.h"

namespace orv {

using CanOpenLibrary::FrameRecord;

// The transport of a named Ethernet-to-CAN route. Unlike a gateway board, the bus at the end of
// the route knows no gateway commands, so this adapter carries each one out itself as NMT
// commands and 8-byte frames to the boot loader, and answers with the reply status a gateway
// would give.
class CE2CCommAdapter : public CommandExecutingAdapter {
  public:
    // Reaches the bus through the connector and engine by the route's two names. Succeeds even
    // when the route cannot be reached: the adapter then has no started engine, and one line on
    // standard error says why.
    CE2CCommAdapter(const std::wstring& routeLeft, const std::wstring& routeRight);
    // Over a link that is already open, through an engine of its own (the simulator's gateways
    // give each connection one over an in-process bus port).
    explicit CE2CCommAdapter(std::unique_ptr<CanLink> link);
    // Over a given engine, which it starts.
    explicit CE2CCommAdapter(std::unique_ptr<CanOpenLibrary::ICanOpenEngine> engine);
    ~CE2CCommAdapter() override;

    // 1 without an engine; else marks the node through the engine and returns 0.
    int Open(uint8_t nodeId) override;
    int SendRaw(const void* request, int requestLength, void* reply, int replyCapacity,
                uint32_t timeoutMs) override;
    int Reset() override;
    // Cuts a byte stream into 12-byte frame records and queues them.
    virtual void OnReceiveBytes(const uint8_t* bytes, int count);

    // The receive path, also fed by the engine's thread.
    void PushFrame(const unsigned char* record);
    // 1 with the data of the first queued frame from nodeId OR the reply base in force; 0 when
    // none came within timeoutMs. Frames from anyone else are dropped on the way.
    int WaitForFrame(uint8_t* out, uint8_t nodeId, uint32_t timeoutMs);

  private:
    void CreateConnection();
    void StartEngine();
    int WaitForId(uint8_t* out, uint16_t awaited, uint32_t timeoutMs);
    bool TakeAwaited(uint8_t* out, uint16_t awaited);

    // The bus the command execution drives.
    bool SendToNode(uint16_t id, const Frame& frame) override;
    void SendNmt(uint8_t specifier, uint8_t node) override;
    bool WaitReply(uint16_t replyId, uint32_t replyTimeoutMs, Frame& answer) override;
    void DrainReplies(uint16_t replyId, uint32_t replyTimeoutMs) override;
    void ForgetPendingReplies() override;

    std::wstring routeLeft_;
    std::wstring routeRight_;
    std::unique_ptr<CanOpenLibrary::ICanOpenEngine> engine_;
    std::unique_ptr<TylCommunicationLibraryNG::ICommConnector> connector_;
    FrameRing rxQueue_;
    std::mutex rxLock_;
    ManualResetEvent rxEvent_;
    uint8_t partial_[sizeof(FrameRecord)] = {};
    int partialCount_ = 0;
};

// Names of the application commands of the communication library, narrow and wide; kept for
// the library's sake, nothing here sends these commands.
const std::map<uint32_t, std::string>& ApplCommandNames();
const std::map<uint32_t, std::wstring>& ApplCommandWideNames();

}  // namespace orv
