#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "OrvBusLog/reader/CandumpLine.h"
#include "OrvBusLog/reader/NodeConversation.h"

// The boot-loader conversation on one bus: network-management commands, and each boot node's
// requests (identifier 0x200 + node) and answers (0x180 + node). Everything else is other
// traffic and only counted.
namespace orv::buslog {

class BootConversation {
  public:
    // Takes each line: the time since the first frame, then who and what.
    using LineSink = std::function<void(const std::string& line)>;

    explicit BootConversation(LineSink sink);
    BootConversation(const BootConversation&) = delete;
    BootConversation& operator=(const BootConversation&) = delete;

    void Take(const LoggedFrame& logged);
    // Ends every node's open step and tells the downloads the log ends in.
    void Finish();
    uint64_t OtherFrames() const { return otherFrames_; }

  private:
    void Line(int64_t micros, const std::string& text);
    void NetworkManagement(int64_t micros, const CanFrame& frame);

    LineSink sink_;
    StepSink stepSink_;
    std::vector<NodeConversation> nodes_;  // by boot node ID
    bool started_ = false;
    int64_t start_ = 0;  // the first frame's time stamp
    int64_t end_ = 0;    // the latest frame's, relative to start_
    uint64_t otherFrames_ = 0;
};

}  // namespace orv::buslog
