#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace orv::test {

// One Intel HEX record with a correct checksum, without its line end.
std::string HexRecord(uint8_t type, uint16_t address, const std::vector<uint8_t>& bytes);

// Builds well-formed Intel HEX text for tests.
class HexWriter {
  public:
    explicit HexWriter(std::string lineEnd = "\n") : lineEnd_(std::move(lineEnd)) {}

    HexWriter& Record(uint8_t type, uint16_t address, const std::vector<uint8_t>& bytes);
    HexWriter& Data(uint16_t address, const std::vector<uint8_t>& bytes) {
        return Record(0x00, address, bytes);
    }
    HexWriter& EndOfFile() { return Record(0x01, 0, {}); }
    // Places bytes at a 32-bit address in data records of up to perRecord bytes, with a type-04
    // record whenever the upper 16 address bits change (they start at 0).
    HexWriter& Bytes(uint32_t address, const std::vector<uint8_t>& bytes, size_t perRecord = 16);

    const std::string& Text() const { return text_; }
    void Save(const std::string& path) const;

  private:
    std::string lineEnd_;
    std::string text_;
    uint16_t upper_ = 0;
};

}  // namespace orv::test
