#include "OrvCanSim/boards/SubblockReceiver.h"

#include "OrvCanSim/boards/BootStatus.h"
#include "OrvCanSim/bus/BootLoaderCodes.h"

namespace orv::sim {

uint16_t Sum16(const std::vector<uint8_t>& bytes) {
    uint16_t sum = 0;
    for (uint8_t byte : bytes) {
        sum = static_cast<uint16_t>(sum + byte);
    }
    return sum;
}

uint8_t SubblockReceiver::Start(uint32_t address, uint16_t length, uint16_t checksum) {
    Reset();
    if (length > kMaxLength) {
        return kStatusOutOfRange;
    }
    address_ = address;
    length_ = length;
    checksum_ = checksum;
    receiving_ = true;
    return length == 0 ? Finish() : kStatusOk;
}

uint8_t SubblockReceiver::AddSegment(const CanFrame& frame) {
    if (!receiving_) {
        return kStatusOutOfSequence;
    }
    const uint8_t toggle = frame.data[0] & kSegmentToggle;
    const uint8_t count = frame.data[0] & 0x07;
    if (toggle != nextToggle_) {
        Reset();
        return kStatusToggleMismatch;
    }
    if (count == 0 || count > length_ - data_.size() || frame.length < 1 + count) {
        Reset();
        return kStatusOutOfSequence;
    }
    data_.insert(data_.end(), frame.data + 1, frame.data + 1 + count);
    nextToggle_ ^= kSegmentToggle;
    return data_.size() == length_ ? Finish() : kStatusOk;
}

uint8_t SubblockReceiver::Finish() {
    if (Sum16(data_) != checksum_) {
        Reset();
        return kStatusChecksumMismatch;
    }
    receiving_ = false;
    complete_ = true;
    return kStatusOk;
}

void SubblockReceiver::Reset() {
    receiving_ = false;
    complete_ = false;
    nextToggle_ = 0;
    data_.clear();
}

}  // namespace orv::sim
