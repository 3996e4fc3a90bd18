#pragma once

#include <cstdint>
#include <initializer_list>

#include "transport/CcbMessage.h"

namespace orv {

// The bus as a transport that carries gateway commands out itself reaches it: 8-byte frames to
// the node, network-management commands, and waits for the node's reply frames.
class BootLoaderBus {
  public:
    using Frame = uint8_t[8];

    virtual ~BootLoaderBus() = default;
    // True when the frame went out.
    virtual bool SendToNode(uint16_t id, const Frame& frame) = 0;
    virtual void SendNmt(uint8_t specifier, uint8_t node) = 0;
    // Takes the next frame with identifier replyId into answer (as many bytes as it carries);
    // false when none came within the transport's wait for replyTimeoutMs.
    virtual bool WaitReply(uint16_t replyId, uint32_t replyTimeoutMs, Frame& answer) = 0;
    // Reads the node's answers away until it stays silent.
    virtual void DrainReplies(uint16_t replyId, uint32_t replyTimeoutMs) = 0;
    // Called just before a poll goes out.
    virtual void ForgetPendingReplies() = 0;
};

// How the 210 busy wait treats a poll that got no answer.
enum class ProgramWait {
    // Polls again at once; the first answer after a miss ends the wait. 50 polls in all.
    kRepollMissesAtOnce,
    // Judges the last answer the node gave; up to 50 polls after the first.
    kKeepLastAnswer,
};

// What a segment frame holds after its data bytes.
enum class SegmentTail { kZeros, kPreviousBytes };

// A pause of this length is not taken at all.
constexpr uint32_t kNoPause = 0;

// Where the transports carrying the commands out differ. Pauses left out are not taken.
struct ExecutionPolicy {
    uint32_t pollAnswerDelayMs = kNoPause;     // between a poll frame and the wait for its answer
    uint32_t pollWaitExtraMs = 0;              // a poll waits this much longer than a reply wait
    uint32_t beforeJumpMs = kNoPause;          // before the jump-to-application frame
    uint32_t variant1SegmentGapMs = kNoPause;  // after each segment in variant 1
    SegmentTail segmentTail;
    ProgramWait programWait;
};

// Carries out each gateway command as NMT commands and boot-loader frames on a bus, waits for
// the node's answers, and answers with the reply status a gateway board would give. Keeps the
// selected boot protocol variant and the node parameters between commands.
class BootCommandExecutor {
  public:
    BootCommandExecutor(BootLoaderBus& bus, const ExecutionPolicy& policy);

    void Execute(const CCcbMessage& request, CCcbMessage& reply);
    // The base of the node's reply identifiers now in force.
    uint16_t ReplyBase() const { return replyBase_; }

  private:
    using Frame = BootLoaderBus::Frame;

    bool Send(const Frame& frame);
    void Send(std::initializer_list<uint8_t> bytes);
    bool Await(uint32_t timeoutMs, Frame& answer, CCcbMessage& reply);
    bool Poll(Frame& answer, CCcbMessage& reply);
    static void Pause(uint32_t ms);
    bool SendFixedFrame(uint32_t command);
    void StoreParameters(const uint8_t* payload);
    void ClearSession();
    void SelectVariant(uint32_t command);

    void BootInit(const uint8_t* payload, CCcbMessage& reply);
    void BootInitVariant1(const uint8_t* payload);
    void BootInitVariant2(const uint8_t* payload, CCcbMessage& reply);
    void WriteSubblock(const uint8_t* payload, CCcbMessage& reply);
    void WriteSubblockVariant2(const uint8_t* payload, CCcbMessage& reply);
    void SendSegments(const uint8_t* payload, uint32_t gapMs, bool stopOnFailedWrite);
    void ProgramSubblock(CCcbMessage& reply);
    void AwaitProgramRepollingMisses(CCcbMessage& reply);
    void AwaitProgramKeepingLastAnswer(CCcbMessage& reply);

    BootLoaderBus& bus_;
    const ExecutionPolicy policy_;
    uint16_t replyBase_ = 0;
    uint16_t requestBase_ = 0;
    uint32_t lastSubblockAddress_ = 0xFFFFFFFF;
    uint32_t variant_ = 0;
    uint8_t nodeId_ = 0x7F;
    // Byte 0 of the node parameters: kept, not used.
    uint8_t reserved_ = 0xFF;
    uint32_t replyTimeoutMs_ = 2000;
};

}  // namespace orv
