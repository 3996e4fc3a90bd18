#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

#include "OrvCanSim/gateway/NodeExchange.h"
#include "canlink/CanLink.h"

namespace orv::sim {

// What one command leaves in its reply: the status and, once the node answered, its 8 bytes.
struct CommandOutcome {
    uint32_t status = 0;
    std::optional<NodeFrame> answer = std::nullopt;
};

// The gateway board's boot-loader session with the nodes of its bus: it carries out each
// command message as network-management commands and 8-byte frames to the node, waits for the
// node's answers, and keeps the selected boot protocol variant and the node parameters from one
// command to the next.
class BootSession {
  public:
    explicit BootSession(CanLink& link) : link_(link) {}

    // Any command code but OPEN, RESET and SEND_FRAME, with the message's data.
    CommandOutcome CarryOut(uint32_t command, const std::vector<uint8_t>& payload);

  private:
    using Payload = std::vector<uint8_t>;

    uint32_t RequestId() const { return nodeId_ | requestBase_; }
    uint32_t ReplyId() const { return nodeId_ | replyBase_; }
    bool Send(const NodeFrame& frame);
    bool Send(std::initializer_list<uint8_t> bytes);
    bool SendFixedFrame(uint32_t command, CommandOutcome& outcome);
    void AwaitAnswer(CommandOutcome& outcome);
    bool Poll(CommandOutcome& outcome);
    void StoreParameters(const Payload& p);
    void EndDownload();
    void SelectVariant(uint32_t variant);

    void BootInit(const Payload& p, CommandOutcome& outcome);
    void BootInitVariant1(const Payload& p);
    void BootInitVariant2(const Payload& p, CommandOutcome& outcome);
    void WriteSubblock(const Payload& p, CommandOutcome& outcome);
    void WriteSubblockVariant2(const Payload& p, CommandOutcome& outcome);
    void SendSegments(const Payload& p, bool stopWhenRefused);
    void ProgramSubblock(CommandOutcome& outcome);

    CanLink& link_;
    uint32_t variant_ = 0;
    uint8_t nodeId_ = 0x7F;
    uint32_t replyTimeoutMs_ = 2000;
    uint16_t replyBase_ = 0;
    uint16_t requestBase_ = 0;
    uint32_t lastSubblockAddress_ = 0xFFFFFFFF;
    // The head of the board's one data area: each request's data overwrites as much of it as
    // it has, so bytes beyond a short payload are those of an earlier request.
    NodeFrame dataArea_{};
};

}  // namespace orv::sim
