#include "OrvBusLog/reader/NodeConversation.h"

#include <algorithm>
#include <cstring>

#include "OrvBusLog/reader/StepText.h"

namespace orv::buslog {
namespace {

constexpr uint8_t kPoll = 0x50;
constexpr uint8_t kBootCodeInfo = 0x70;
constexpr uint8_t kRead = 0x60;
constexpr uint8_t kSubBlockHeader = 0x10;
constexpr uint8_t kAbort = 0xFF;
constexpr uint32_t kMaxSubBlock = 2048;
constexpr size_t kReadSize = 8;

bool IsSegment(uint8_t first) {
    return (first & 0xF0) == 0x20;
}
bool IsInformationBytes(uint8_t first) {
    return (first & 0xF0) == 0x90;
}

uint32_t Low16(const CanFrame& frame, size_t i) {
    return static_cast<uint32_t>(frame.data[i] | frame.data[i + 1] << 8);
}

uint32_t Low32(const CanFrame& frame, size_t i) {
    return Low16(frame, i) | Low16(frame, i + 2) << 16;
}

std::string PageText(uint8_t page) {
    return page != 0 ? " page " + std::to_string(page) : "";
}

}  // namespace

void NodeConversation::Request(int64_t micros, const CanFrame& frame) {
    const uint8_t first = frame.length > 0 ? frame.data[0] : 0;
    if (frame.length == 0) {
        Close();
        Emit(micros, GapBefore(micros), "empty request");
    } else if (first == kPoll) {
        Poll(micros);
    } else if (IsSegment(first)) {
        Segment(micros, first & 0x07);
    } else if (first == kSubBlockHeader) {
        Header(micros, frame);
    } else if (first == kRead) {
        Read(micros, frame);
    } else if (IsInformationBytes(first)) {
        InformationBytes(micros, frame);
    } else if (first == kBootCodeInfo) {
        Open(StepKind::BootInfo, micros, "boot code information");
        step_.awaiting = true;
    } else {
        Single(micros, frame);
    }
    // Two aborts in a row, then the initialisation, is how the high-byte-first protocol begins.
    const bool abort = frame.length == 8 && first == kAbort;
    if (!abort && first != kPoll) {
        abortsInRow_ = 0;
    }
    seen_ = true;
    lastFrame_ = micros;
}

void NodeConversation::Answer(int64_t micros, const CanFrame& frame) {
    if (!step_.awaiting) {
        Emit(micros, GapBefore(micros),
             "answer " + HexBytes(frame.data, frame.length) + " without a request");
    } else {
        step_.awaiting = false;
        if (step_.kind == StepKind::Status || step_.kind == StepKind::SubBlock) {
            // A busy bit (erasing, programming) in byte 1 tells busy as well as the status.
            const bool busy = (frame.data[1] & 0x03) != 0;
            AddPollOutcome(busy ? kBusyStatus : frame.data[0]);
        } else {
            step_.answered = true;
            std::memcpy(step_.answer, frame.data, sizeof step_.answer);
        }
        if (step_.kind != StepKind::SubBlock) {
            step_.last = micros;
        }
        if (step_.kind == StepKind::BootInfo) {
            Close();
        }
    }
    seen_ = true;
    lastFrame_ = micros;
}

void NodeConversation::Finish(int64_t logEnd) {
    Close();
    if (downloading_) {
        Emit(logEnd, 0,
             "download unfinished after " + lastLabel_ + " (at " + Stamp(lastLabelAt_) +
                 "); silent for " + Seconds(logEnd - lastFrame_) + " to the end of the log");
        downloading_ = false;
    }
}

void NodeConversation::Poll(int64_t micros) {
    const bool beforeSegments = step_.kind == StepKind::SubBlock && step_.frames == 1;
    if (step_.kind == StepKind::Status || beforeSegments) {
        if (step_.awaiting) {
            AddPollOutcome(kNoAnswer);
        }
    } else {
        Open(StepKind::Status, micros, "status");
    }
    if (step_.kind == StepKind::Status) {
        ++step_.frames;
        step_.last = micros;
    }
    step_.awaiting = true;
}

void NodeConversation::Segment(int64_t micros, uint8_t count) {
    if (step_.kind == StepKind::SubBlock) {
        if (step_.awaiting) {
            AddPollOutcome(kNoAnswer);
            step_.awaiting = false;
        }
    } else if (step_.kind != StepKind::Orphans) {
        Open(StepKind::Orphans, micros, "data segments without a header");
    }
    ++step_.frames;
    step_.bytes += count;
    step_.last = micros;
    if (step_.kind == StepKind::SubBlock && step_.bytes >= step_.announced) {
        Close();
    }
}

void NodeConversation::Header(int64_t micros, const CanFrame& frame) {
    uint32_t address = 0;
    uint8_t page = 0;
    uint32_t length = 0;
    if (overPdo_) {
        address = Low16(frame, 1);
        page = frame.data[3];
        length = Low16(frame, 4);
    } else {
        // A length that fits a sub-block one way round only tells the byte order.
        const uint32_t lowFirst = Low16(frame, 4);
        const uint32_t highFirst = static_cast<uint32_t>(frame.data[4] << 8 | frame.data[5]);
        const bool lowFits = lowFirst >= 1 && lowFirst <= kMaxSubBlock;
        const bool highFits = highFirst >= 1 && highFirst <= kMaxSubBlock;
        if (lowFits != highFits) {
            highByteFirst_ = highFits;
        }
        page = frame.data[1];
        address = Field(frame, 2);
        length = Field(frame, 4);
    }
    Open(StepKind::SubBlock, micros, "sub-block " + Hex(address, 4) + PageText(page));
    step_.address = address;
    step_.page = page;
    step_.announced = length;
    step_.frames = 1;
    downloading_ = true;
    if (length == 0) {
        Close();
    }
}

void NodeConversation::Read(int64_t micros, const CanFrame& frame) {
    const uint32_t address = Low16(frame, 2);
    const uint8_t page = frame.data[4];
    if (step_.kind == StepKind::Read && address == step_.endAddress && page == step_.page) {
        if (step_.awaiting) {
            ++step_.unanswered;
        }
    } else {
        Open(StepKind::Read, micros, "read " + Hex(address, 4) + PageText(page));
        step_.address = address;
        step_.page = page;
    }
    ++step_.frames;
    step_.endAddress = address + kReadSize;
    step_.last = micros;
    step_.awaiting = true;
}

void NodeConversation::InformationBytes(int64_t micros, const CanFrame& frame) {
    const uint8_t count = frame.data[0] & 0x07;
    const uint32_t address = Low16(frame, 1);
    if (step_.kind != StepKind::InfoBytes) {
        Open(StepKind::InfoBytes, micros, "information block bytes");
        step_.address = address;
        step_.endAddress = address;
    }
    step_.address = std::min(step_.address, address);
    step_.endAddress = std::max(step_.endAddress, address + count);
    ++step_.frames;
    step_.bytes += count;
    step_.last = micros;
}

void NodeConversation::Single(int64_t micros, const CanFrame& frame) {
    Close();
    const std::string text = SingleText(frame);
    lastLabel_ = text;
    lastLabelAt_ = micros;
    Emit(micros, GapBefore(micros), text);
}

std::string NodeConversation::SingleText(const CanFrame& frame) {
    switch (frame.data[0]) {
        case kAbort:
            if (frame.length == 1) {
                overPdo_ = true;
                return "download over PDO begins";
            }
            ++abortsInRow_;
            overPdo_ = false;
            downloading_ = false;
            return "abort";
        case 0x00:
            downloading_ = true;
            if (overPdo_) {
                return "download over PDO: start " + Hex(Low16(frame, 1), 4) + ", " +
                       Count(Low32(frame, 4), "byte");
            }
            if (abortsInRow_ > 0) {
                highByteFirst_ = abortsInRow_ >= 2;
            }
            return "download initialisation: page " + std::to_string(frame.data[1]) + ", start " +
                   Hex(Field(frame, 2), 4) + ", " + Count(Field(frame, 4), "byte") + ", checksum " +
                   Hex(Field(frame, 6), 4);
        case 0x01:
            if (overPdo_) {
                return "download checksum " + Hex(Low16(frame, 2), 4) + ", " +
                       Count(Low32(frame, 4), "byte");
            }
            break;
        case 0xAA:
            if (frame.data[1] == 0x55) {
                return "write enable";
            }
            break;
        case 0x30:
            return "program";
        case 0x40:
            return "validate";
        case 0x80:
            downloading_ = false;
            return "jump to application";
        case 0xB0:
            return "information block commit";
        case 0xC0:
            return "information block update begins";
        default:
            break;
    }
    return "request " + HexBytes(frame.data, frame.length);
}

void NodeConversation::Open(StepKind kind, int64_t micros, std::string label) {
    Close();
    step_ = Step{};
    step_.kind = kind;
    step_.start = micros;
    step_.last = micros;
    step_.gap = GapBefore(micros);
    step_.label = std::move(label);
    lastLabel_ = step_.label;
    lastLabelAt_ = micros;
}

void NodeConversation::Close() {
    if (step_.kind == StepKind::None) {
        return;
    }
    if (step_.awaiting) {
        if (step_.kind == StepKind::Read) {
            ++step_.unanswered;
        } else if (step_.kind != StepKind::BootInfo) {
            AddPollOutcome(kNoAnswer);
        }
    }
    Emit(step_.start, step_.gap, StepText());
    step_.kind = StepKind::None;
}

void NodeConversation::AddPollOutcome(uint16_t outcome) {
    if (step_.pollGroups > 0 && step_.polls[step_.pollGroups - 1].outcome == outcome) {
        ++step_.polls[step_.pollGroups - 1].count;
    } else if (step_.pollGroups == kMaxPollGroups) {
        ++step_.morePolls;
    } else {
        step_.polls[step_.pollGroups++] = {outcome, 1};
    }
}

std::string NodeConversation::PollsText() const {
    std::string text;
    for (size_t i = 0; i < step_.pollGroups; ++i) {
        const PollGroup& group = step_.polls[i];
        text += i == 0 ? "" : ", then ";
        text += group.outcome == kNoAnswer ? "no answer"
                                           : StatusText(static_cast<uint8_t>(group.outcome));
        if (group.count > 1) {
            text += " ×" + std::to_string(group.count);
        }
    }
    if (step_.morePolls > 0) {
        text += ", then " + Count(step_.morePolls, "more poll");
    }
    return text;
}

std::string NodeConversation::StepText() const {
    const std::string duration = step_.frames > 1 ? ", " + Seconds(step_.last - step_.start) : "";
    switch (step_.kind) {
        case StepKind::Status:
            return "status " + PollsText() + duration;
        case StepKind::BootInfo:
            return step_.label + " → " +
                   (step_.answered ? BootCodeAnswer(step_.answer) : "no answer");
        case StepKind::Read: {
            std::string text =
                step_.label + ", " + Count(step_.frames * kReadSize, "byte") + duration;
            if (step_.frames == 1 && step_.answered) {
                text += " → " + HexBytes(step_.answer, sizeof step_.answer);
            }
            return text + (step_.unanswered > 0
                               ? ", " + std::to_string(step_.unanswered) + " unanswered"
                               : "");
        }
        case StepKind::SubBlock:
            return SubBlockText();
        case StepKind::InfoBytes: {
            // Frames of no bytes leave the range empty.
            const uint32_t last = std::max(step_.endAddress, step_.address + 1) - 1;
            return "information block: " + Count(step_.bytes, "byte") + " at " +
                   Hex(step_.address, 4) + ".." + Hex(last, 4) + ", " +
                   Count(step_.frames, "frame");
        }
        case StepKind::Orphans:
            return step_.label + ": " + Count(step_.frames, "frame") + ", " +
                   Count(step_.bytes, "byte");
        case StepKind::None:
            break;
    }
    return {};
}

std::string NodeConversation::SubBlockText() const {
    const bool complete = step_.bytes >= step_.announced;
    std::string text = step_.label + ", ";
    text += complete ? Count(step_.announced, "byte")
                     : std::to_string(step_.bytes) + " of " + Count(step_.announced, "byte");
    text += ", " + Count(step_.frames, "frame") + ", " + Seconds(step_.last - step_.start);
    if (step_.pollGroups > 0) {
        text += ", status " + PollsText();
    }
    return complete ? text : text + ", incomplete";
}

void NodeConversation::Emit(int64_t micros, int64_t gap, const std::string& text) {
    const std::string silence = gap > 0 ? " (after " + Seconds(gap) + " of silence)" : "";
    (*sink_)(micros, "node " + std::to_string(node_) + ": " + text + silence);
}

int64_t NodeConversation::GapBefore(int64_t micros) const {
    return seen_ && micros - lastFrame_ >= kGapWorthTelling ? micros - lastFrame_ : 0;
}

uint16_t NodeConversation::Field(const CanFrame& frame, size_t i) const {
    return static_cast<uint16_t>(highByteFirst_ ? frame.data[i] << 8 | frame.data[i + 1]
                                                : frame.data[i] | frame.data[i + 1] << 8);
}

}  // namespace orv::buslog
