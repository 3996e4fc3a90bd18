#include "OrvCanSim/boards/PucInfoBlock.h"

#include <algorithm>

namespace orv::sim {
namespace {

constexpr uint16_t kValidApplication = 0xA5A5;
constexpr uint16_t kErasedWord = 0xFFFF;

}  // namespace

void PucInfoBlock::Reload() {
    for (uint32_t i = 0; i < kSize; ++i) {
        pending_[i] = flash_.Read(kAddress + i);
    }
}

bool PucInfoBlock::Stage(uint32_t address, const uint8_t* bytes, size_t count) {
    if (address < kAddress || address - kAddress > kSize || count > kSize - (address - kAddress)) {
        return false;
    }
    std::copy(bytes, bytes + count, pending_.begin() + (address - kAddress));
    return true;
}

void PucInfoBlock::StageApplication(bool valid, uint16_t checksum, uint16_t entryAddress) {
    const uint16_t words[3] = {valid ? kValidApplication : kErasedWord,
                               valid ? checksum : kErasedWord, valid ? entryAddress : kErasedWord};
    for (size_t i = 0; i < 3; ++i) {
        pending_[2 * i] = static_cast<uint8_t>(words[i] >> 8);
        pending_[2 * i + 1] = static_cast<uint8_t>(words[i]);
    }
}

void PucInfoBlock::Commit() {
    flash_.Write(kAddress, pending_.data(), pending_.size());
}

uint8_t PucInfoBlock::SoftCanId() const {
    const uint8_t id = flash_.Read(kSoftCanIdAddress);
    return id >= 1 && id <= 127 ? id : 0;
}

}  // namespace orv::sim
