#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>

namespace orv::sim {

// A board's flash: addresses 0 to size - 1, erased (0xFF) until written. Held in 64 KiB pages
// that exist only once written, so a 16 MiB address space costs what is actually used.
class FlashMemory {
  public:
    static constexpr uint32_t kPageSize = 0x10000;
    static constexpr uint8_t kErased = 0xFF;

    explicit FlashMemory(uint32_t size) : size_(size) {}

    uint32_t Size() const { return size_; }
    bool Contains(uint32_t address, size_t count) const {
        return address <= size_ && count <= size_ - address;
    }
    // Reads beyond the end give the erased value.
    uint8_t Read(uint32_t address) const;
    // Bytes beyond the end are ignored; callers check Contains first.
    void Write(uint32_t address, const uint8_t* bytes, size_t count);
    void Erase(uint32_t address, size_t count);

  private:
    using Page = std::array<uint8_t, kPageSize>;

    uint32_t size_;
    std::map<uint32_t, std::unique_ptr<Page>> pages_;
};

}  // namespace orv::sim
