#include "OrvCanSim/boards/IntelHexReader.h"

#include <cstdint>
#include <fstream>
#include <vector>

#include "text/HexDigit.h"

namespace orv::sim {
namespace {

// The longest record: 255 data bytes.
constexpr size_t kMaxLineLength = 1 + 2 * (1 + 2 + 1 + 255 + 1) + 1;

bool DecodeRecord(const std::string& line, std::vector<uint8_t>& bytes) {
    if (line.size() < 11 || line[0] != ':' || line.size() % 2 != 1) {
        return false;
    }
    bytes.clear();
    uint8_t sum = 0;
    for (size_t i = 1; i < line.size(); i += 2) {
        const int high = orv::HexDigitValue(line[i]);
        const int low = orv::HexDigitValue(line[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
        sum = static_cast<uint8_t>(sum + bytes.back());
    }
    return sum == 0 && bytes.size() == static_cast<size_t>(bytes[0]) + 5;
}

}  // namespace

std::string LoadIntelHex(const std::string& path, FlashMemory& flash) {
    std::ifstream in(path);
    if (!in) {
        return "cannot open " + path;
    }
    uint32_t base = 0;
    std::string line;
    std::vector<uint8_t> record;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string where = path + " line " + std::to_string(number);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            continue;
        }
        if (line.size() > kMaxLineLength || !DecodeRecord(line, record)) {
            return where + ": not a valid Intel HEX record";
        }
        const uint8_t count = record[0];
        const uint32_t offset = static_cast<uint32_t>(record[1] << 8 | record[2]);
        const uint8_t* data = record.data() + 4;
        switch (record[3]) {
            case 0x00:
                if (!flash.Contains(base + offset, count)) {
                    return where + ": data beyond the board's flash";
                }
                flash.Write(base + offset, data, count);
                break;
            case 0x01:
                return "";
            case 0x02:
            case 0x04:
                if (count != 2) {
                    return where + ": bad address record";
                }
                base = static_cast<uint32_t>(data[0] << 8 | data[1])
                       << (record[3] == 0x02 ? 4 : 16);
                break;
            case 0x03:
            case 0x05:
                break;
            default:
                return where + ": unknown record type";
        }
    }
    return in.bad() ? "cannot read " + path : "";
}

}  // namespace orv::sim
