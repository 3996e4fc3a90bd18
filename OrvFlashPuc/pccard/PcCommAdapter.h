#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "pccard/CanCard.h"
#include "transport/CommandExecutingAdapter.h"
#include "transport/ExecutionPolicies.h"

namespace orv {

// The transport over a CAN card in the PC: carries every gateway command out itself as
// boot-loader frames through the card, and waits for the node's replies in the card's ring.
class CPcCommAdapter : public CommandExecutingAdapter {
  public:
    // "CAN0" drives an NI-CAN card, "CAN1" the USB adapter; any other name leaves no card.
    explicit CPcCommAdapter(const char* canCardName);
    // Takes ownership of a card made elsewhere (null for none).
    explicit CPcCommAdapter(CCanCard* card);
    ~CPcCommAdapter() override;

    // Opens the card at the first call only, whatever the node; 0 once it is open.
    int Open(uint8_t nodeId) override;
    // Raw frames have no route through a PC card: sends nothing, writes no reply, returns 0.
    int SendRaw(const void* request, int requestLength, void* reply, int replyCapacity,
                uint32_t timeoutMs) override;
    // Closes the card; a later Open still counts it as open.
    int Reset() override;

  private:
    // Reads one frame for a wait: Timeout also stands for "no card".
    enum class ReadOutcome { Awaited, Foreign, Timeout, Error };
    ReadOutcome ReadForWait(uint16_t replyId, uint32_t replyTimeoutMs, CanCardFrame& frame);
    bool ReadReplies(uint16_t replyId, uint32_t replyTimeoutMs,
                     const std::function<bool(const CanCardFrame&)>& take);

    // The bus the command execution drives.
    bool SendToNode(uint16_t id, const Frame& frame) override;
    void SendNmt(uint8_t specifier, uint8_t node) override;
    bool WaitReply(uint16_t replyId, uint32_t replyTimeoutMs, Frame& answer) override;
    void DrainReplies(uint16_t replyId, uint32_t replyTimeoutMs) override;
    void ForgetPendingReplies() override {}

    uint32_t opened_ = 0;
    std::unique_ptr<CCanCard> card_;
};

}  // namespace orv
