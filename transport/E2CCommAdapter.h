#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>

#include <mutex>
#include "canlink/CanLink.h"
#include "os/ManualResetEvent.h"
#include "standins/CanOpenEngine.h"
#include "standins/CommConnector.h"
#include "transport/CommAdapter.h"

using CanOpenLibrary::FrameRecord;

// The transport of a named Ethernet-to-CAN route. Unlike a gateway board, the bus at the end of
// the route knows no gateway commands, so this adapter carries each one out itself as NMT
// commands and 8-byte frames to the boot loader, and answers with the reply status a gateway
// would give.
class CE2CCommAdapter : public CCommAdapter {
  public:
    // Reaches the bus through the connector and engine by the route's two names. Succeeds even
    // when the route cannot be reached: the adapter then has no started engine, and one line on
    // standard error says why.
    CE2CCommAdapter(const std::wstring& routeLeft, const std::wstring& routeRight);
    // Over a link that is already open, through an engine of its own (the simulator's gateways
    // give each connection one over an in-process bus port).
    explicit CE2CCommAdapter(std::unique_ptr<orv::ICanLink> link);
    // Over a given engine, which it starts.
    explicit CE2CCommAdapter(std::unique_ptr<CanOpenLibrary::ICanOpenEngine> engine);
    ~CE2CCommAdapter() override;
    CE2CCommAdapter(const CE2CCommAdapter&) = delete;
    CE2CCommAdapter& operator=(const CE2CCommAdapter&) = delete;

    int Open(uint8_t nodeId) override;
    int SendRaw(const void* request, int requestLength, void* reply, int replyCapacity,
                uint32_t timeoutMs) override;
    int Transact(const CCcbMessage* request, CCcbMessage* reply, int replyCapacity,
                 uint32_t timeoutMs) override;
    int Reset() override;
    // Cuts a byte stream into 12-byte frame records and queues them.
    virtual void OnReceiveBytes(const uint8_t* bytes, int count);

    // The receive path, also fed by the engine's thread.
    void PushFrame(const unsigned char* record);
    // 1 with the data of the first queued frame from nodeId OR replyBase; 0 when none came
    // within timeoutMs. Frames from anyone else are dropped on the way.
    int WaitForFrame(uint8_t* out, uint8_t nodeId, uint32_t timeoutMs);

  private:
    void CreateConnection();
    void StartEngine();
    bool SendFrame(const uint8_t* data);
    void SendNmt(uint8_t specifier, uint8_t node);
    void PollNode(uint8_t* out, CCcbMessage* reply);
    void EmptyQueue();

    // Command execution (E2CCommandExecution.cpp).
    void StoreParameters(const uint8_t* payload);
    void Wait(uint8_t* answer, CCcbMessage* reply);
    void BootInit(const CCcbMessage* request, CCcbMessage* reply);
    void BootInitVariant1(const uint8_t* payload);
    void BootInitVariant2(const uint8_t* payload, CCcbMessage* reply);
    void WriteSubblock(const CCcbMessage* request, CCcbMessage* reply);
    void SendSegments(const uint8_t* data, uint32_t count, bool stopOnFailure);
    void ProgramSubblock(CCcbMessage* reply);

    uint16_t replyBase = 0;
    uint16_t requestBase = 0;
    uint32_t lastSubblockAddress = 0xFFFFFFFF;
    uint32_t variant = 0;
    uint8_t nodeId = 0x7F;
    uint8_t reserved = 0xFF;
    uint32_t replyTimeoutMs = 2000;
    std::wstring routeLeft;
    std::wstring routeRight;
    std::unique_ptr<CanOpenLibrary::ICanOpenEngine> engine;
    std::unique_ptr<TylCommunicationLibraryNG::ICommConnector> connector;
    std::deque<std::unique_ptr<FrameRecord>> rxQueue;
    std::mutex rxLock;
    ManualResetEvent rxEvent;
    uint8_t partial[sizeof(FrameRecord)] = {};
    int partialCount = 0;
};

// Names of the application commands of the communication library, narrow and wide; kept for
// the library's sake, nothing here sends these commands.
const std::map<uint32_t, std::string>& ApplCommandNames();
const std::map<uint32_t, std::wstring>& ApplCommandWideNames();
