#pragma once

#include <cstdint>
#include <memory>

#include "pccard/CanCard.h"
#include "transport/CommAdapter.h"

// The transport over a CAN card in the PC: carries every gateway command out itself as
// boot-loader frames through the card, and waits for the node's replies in the card's ring.
class CPcCommAdapter : public CCommAdapter {
  public:
    // "CAN0" drives an NI-CAN card, "CAN1" the USB adapter; any other name leaves no card.
    explicit CPcCommAdapter(const char* canCardName);
    // Takes ownership of a card made elsewhere (null for none).
    explicit CPcCommAdapter(CCanCard* card);
    ~CPcCommAdapter() override;
    CPcCommAdapter(const CPcCommAdapter&) = delete;
    CPcCommAdapter& operator=(const CPcCommAdapter&) = delete;

    int Open(uint8_t nodeId) override;
    int SendRaw(const void* request, int requestLength, void* reply, int replyCapacity,
                uint32_t timeoutMs) override;
    int Transact(const CCcbMessage* request, CCcbMessage* reply, int replyCapacity,
                 uint32_t timeoutMs) override;
    int Reset() override;

  private:
    using Answer = uint8_t[8];

    int SendToNode(const uint8_t (&bytes)[8]);
    bool SendNmt(uint8_t specifier, uint8_t node);
    bool WaitReply(Answer& answer);
    bool Poll(Answer& answer, CCcbMessage* reply);
    void DrainReplies();
    // Reads one frame for a wait: Timeout also stands for "no card".
    enum class ReadOutcome { NodeReply, Foreign, Timeout, Error };
    ReadOutcome ReadForWait(CanCardFrame& frame);
    void TakeNodeParameters(const uint8_t* p);

    void BootInit(const uint8_t* p, CCcbMessage* reply);
    void WriteSubblock(const uint8_t* p, CCcbMessage* reply);
    void SendSegments(const uint8_t* data, uint32_t count, bool pauseAfterEach,
                      bool stopOnFailedWrite);
    void ProgramSubblock(CCcbMessage* reply);

    uint16_t replyBase_ = 0;
    uint16_t requestBase_ = 0;
    uint32_t lastSubblockAddress_ = 0xFFFFFFFF;
    uint32_t variant_ = 0;
    uint8_t nodeId_ = 0x7F;
    uint32_t replyTimeoutMs_ = 2000;
    uint32_t opened_ = 0;
    std::unique_ptr<CCanCard> card_;
};
