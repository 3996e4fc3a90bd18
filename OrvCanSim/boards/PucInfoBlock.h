#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "OrvCanSim/boards/FlashMemory.h"

namespace orv::sim {

// A PUC's information block in flash at 0x4000, and the copy that collects what the next
// commit writes: the boot loader takes the bytes one request at a time and writes the block
// whole, when it programs or when it is told to commit.
class PucInfoBlock {
  public:
    static constexpr uint32_t kAddress = 0x4000;
    static constexpr uint32_t kSize = 0x100;
    static constexpr uint32_t kSoftCanIdAddress = 0x4034;

    explicit PucInfoBlock(FlashMemory& flash) : flash_(flash) { Reload(); }

    // Drops what was not committed.
    void Reload();
    // False when the bytes do not lie within the block.
    bool Stage(uint32_t address, const uint8_t* bytes, size_t count);
    // The first three words, most significant byte first: 0xA5A5, the checksum and the entry
    // address for a valid application, else erased.
    void StageApplication(bool valid, uint16_t checksum, uint16_t entryAddress);
    void Commit();

    // The boot node ID the block asks for, or 0 when it asks for none.
    uint8_t SoftCanId() const;

  private:
    FlashMemory& flash_;
    std::array<uint8_t, kSize> pending_{};
};

}  // namespace orv::sim
