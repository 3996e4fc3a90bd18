#include "OrvCanSim/boards/FlashMemory.h"

namespace orv::sim {

uint8_t FlashMemory::Read(uint32_t address) const {
    const auto page = pages_.find(address / kPageSize);
    return page == pages_.end() ? kErased : (*page->second)[address % kPageSize];
}

void FlashMemory::Write(uint32_t address, const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count && address + i < size_; ++i) {
        const uint32_t at = address + static_cast<uint32_t>(i);
        std::unique_ptr<Page>& page = pages_[at / kPageSize];
        if (!page) {
            page = std::make_unique<Page>();
            page->fill(kErased);
        }
        (*page)[at % kPageSize] = bytes[i];
    }
}

void FlashMemory::Erase(uint32_t address, size_t count) {
    for (size_t i = 0; i < count && address + i < size_; ++i) {
        const uint32_t at = address + static_cast<uint32_t>(i);
        const auto page = pages_.find(at / kPageSize);
        if (page != pages_.end()) {
            (*page->second)[at % kPageSize] = kErased;
        }
    }
}

}  // namespace orv::sim
