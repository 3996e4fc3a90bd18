#include "support/HexWriter.h"

#include <algorithm>
#include <cstdio>

#include "support/TestFiles.h"

namespace orv::test {

std::string HexRecord(uint8_t type, uint16_t address, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> fields = {static_cast<uint8_t>(bytes.size()),
                                   static_cast<uint8_t>(address >> 8),
                                   static_cast<uint8_t>(address & 0xFF), type};
    fields.insert(fields.end(), bytes.begin(), bytes.end());
    uint8_t sum = 0;
    for (uint8_t field : fields)
        sum = static_cast<uint8_t>(sum + field);
    fields.push_back(static_cast<uint8_t>(0x100 - sum));
    std::string record = ":";
    char pair[3];
    for (uint8_t field : fields) {
        std::snprintf(pair, sizeof pair, "%02X", field);
        record += pair;
    }
    return record;
}

HexWriter& HexWriter::Record(uint8_t type, uint16_t address, const std::vector<uint8_t>& bytes) {
    text_ += HexRecord(type, address, bytes) + lineEnd_;
    return *this;
}

HexWriter& HexWriter::Bytes(uint32_t address, const std::vector<uint8_t>& bytes, size_t perRecord) {
    const size_t recordSize = std::clamp<size_t>(perRecord, 1, 255);
    for (size_t done = 0; done < bytes.size();) {
        const uint32_t at = address + static_cast<uint32_t>(done);
        if (at >> 16 != upper_) {
            upper_ = static_cast<uint16_t>(at >> 16);
            Record(0x04, 0, {static_cast<uint8_t>(upper_ >> 8), static_cast<uint8_t>(upper_)});
        }
        // A record never crosses a 64 KiB boundary.
        const size_t take =
            std::min({recordSize, size_t{0x10000 - (at & 0xFFFF)}, bytes.size() - done});
        const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(done);
        Data(static_cast<uint16_t>(at), {first, first + static_cast<std::ptrdiff_t>(take)});
        done += take;
    }
    return *this;
}

void HexWriter::Save(const std::string& path) const {
    WriteFile(path, text_);
}

}  // namespace orv::test
