#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "os/CanFrame.h"

// One boot node's side of the conversation: its requests and the node's answers, grouped into
// steps of one line each. A step's line is handed on when the step ends: when the node's next
// request begins another step, when its transfer is complete, or at the end of the log.
namespace orv::buslog {

// Takes a finished step: when its first frame was logged and its line without the time.
using StepSink = std::function<void(int64_t micros, const std::string& text)>;

class NodeConversation {
  public:
    // A pause between two steps of a node that the next step's line mentions.
    static constexpr int64_t kGapWorthTelling = 100000;
    // Different poll outcomes that one line lists; further changes are only counted.
    static constexpr size_t kMaxPollGroups = 6;

    NodeConversation(uint8_t node, const StepSink& sink) : node_(node), sink_(&sink) {}

    void Request(int64_t micros, const CanFrame& frame);
    void Answer(int64_t micros, const CanFrame& frame);
    // Ends the open step; a download still under way is told with its last step and the
    // silence after it until logEnd.
    void Finish(int64_t logEnd);

  private:
    enum class StepKind { None, Status, BootInfo, Read, SubBlock, InfoBytes, Orphans };
    static constexpr uint16_t kNoAnswer = 0x100;

    struct PollGroup {
        uint16_t outcome = 0;  // the status byte (busy as 0x06), or kNoAnswer
        uint64_t count = 0;
    };

    // What one step has gathered; each kind uses the fields it needs.
    struct Step {
        StepKind kind = StepKind::None;
        std::string label;  // what the step is, without its outcome
        int64_t start = 0;
        int64_t last = 0;       // the latest frame that belongs to its duration
        int64_t gap = 0;        // the node's silence before it, 0 when too short to tell
        bool awaiting = false;  // its latest request waits for the node's answer
        bool answered = false;
        uint64_t frames = 0;  // requests; for a sub-block its header and data segments
        uint64_t bytes = 0;
        uint64_t unanswered = 0;
        uint32_t address = 0;
        uint32_t endAddress = 0;  // reads and information bytes: just past the last byte
        uint8_t page = 0;
        uint32_t announced = 0;  // a sub-block's length from its header
        std::array<PollGroup, kMaxPollGroups> polls{};
        size_t pollGroups = 0;
        uint64_t morePolls = 0;
        uint8_t answer[8] = {};
    };

    void Poll(int64_t micros);
    void Segment(int64_t micros, uint8_t count);
    void Header(int64_t micros, const CanFrame& frame);
    void Read(int64_t micros, const CanFrame& frame);
    void InformationBytes(int64_t micros, const CanFrame& frame);
    // A request that is a step by itself: its line goes out at once.
    void Single(int64_t micros, const CanFrame& frame);
    std::string SingleText(const CanFrame& frame);

    void Open(StepKind kind, int64_t micros, std::string label);
    void Close();
    void AddPollOutcome(uint16_t outcome);
    std::string PollsText() const;
    std::string StepText() const;
    std::string SubBlockText() const;
    void Emit(int64_t micros, int64_t gap, const std::string& text);
    int64_t GapBefore(int64_t micros) const;
    // The 16-bit field at bytes i and i + 1 in the node's byte order.
    uint16_t Field(const CanFrame& frame, size_t i) const;

    const uint8_t node_;
    const StepSink* sink_;
    Step step_;
    bool seen_ = false;
    int64_t lastFrame_ = 0;
    // The latest step's name and start, for the line of an unfinished download.
    std::string lastLabel_;
    int64_t lastLabelAt_ = 0;
    bool downloading_ = false;
    // Raw frames feed the download: sub-block headers keep the page after the address.
    bool overPdo_ = false;
    // The node's boot protocol sends its 16-bit fields high byte first; learned from how its
    // download began and from the lengths of its sub-block headers.
    bool highByteFirst_ = false;
    unsigned abortsInRow_ = 0;
};

}  // namespace orv::buslog
