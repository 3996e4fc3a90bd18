#pragma once

#include <cstdint>
#include <vector>

#include "canlink/CanLink.h"

namespace orv::sim {

// The sum of the bytes modulo 65536: the checksum of a sub-block.
uint16_t Sum16(const std::vector<uint8_t>& bytes);

// Collects the data segments of one sub-block after its header frame: each segment is
// {0x20 | toggle | n, n bytes}, the toggle 0x00 first and alternating with 0x08; the sum of the
// bytes must match the header's checksum. All results are status bytes (sim/BootStatus.h).
class SubblockReceiver {
  public:
    static constexpr uint16_t kMaxLength = 2048;

    // A sub-block of length 0 is complete at once.
    uint8_t Start(uint32_t address, uint16_t length, uint16_t checksum);
    uint8_t AddSegment(const CanFrame& frame);
    void Reset();

    bool Receiving() const { return receiving_; }
    bool Complete() const { return complete_; }
    uint32_t Address() const { return address_; }
    uint16_t Checksum() const { return checksum_; }
    const std::vector<uint8_t>& Data() const { return data_; }

  private:
    uint8_t Finish();

    bool receiving_ = false;
    bool complete_ = false;
    uint32_t address_ = 0;
    uint16_t length_ = 0;
    uint16_t checksum_ = 0;
    uint8_t nextToggle_ = 0;
    std::vector<uint8_t> data_;
};

}  // namespace orv::sim
