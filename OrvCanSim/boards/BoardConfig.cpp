#include "OrvCanSim/boards/BoardConfig.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace orv::sim {
namespace {

constexpr size_t kMaxIdentLength = 7;

// Decimal, or hexadecimal with 0x; the whole text must be the number.
bool ParseNumber(const std::string& text, unsigned long low, unsigned long high,
                 unsigned long& value) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    value = std::strtoul(text.c_str(), &end, 0);
    return errno == 0 && *end == '\0' && value >= low && value <= high;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    std::string part;
    while (std::getline(stream, part, separator)) {
        parts.push_back(part);
    }
    return parts;
}

std::string ParseStatusError(const std::string& value, BoardConfig& config) {
    const size_t colon = value.find(':');
    unsigned long code = 0;
    unsigned long byte = 0;
    if (colon == std::string::npos || !ParseNumber(value.substr(0, colon), 100, 218, code) ||
        !ParseNumber(value.substr(colon + 1), 0, 255, byte)) {
        return "status-error wants CODE:BYTE, a gateway command code and a status byte";
    }
    config.statusErrors[static_cast<uint32_t>(code)] = static_cast<uint8_t>(byte);
    return "";
}

std::string ParseOption(const std::string& option, BoardConfig& config) {
    const size_t equals = option.find('=');
    const std::string name = option.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : option.substr(equals + 1);
    const bool hasValue = equals != std::string::npos;
    unsigned long number = 0;
    if (name == "silent" && !hasValue) {
        config.silent = true;
    } else if (name == "stuck-busy" && !hasValue) {
        config.stuckBusy = true;
    } else if (name == "boot" && ParseNumber(value, 1, 127, number)) {
        config.bootNodeId = static_cast<uint8_t>(number);
    } else if (name == "mode" && (value == "app" || value == "boot")) {
        config.startInBootLoader = value == "boot";
    } else if (name == "version" && value.size() == 4) {
        config.version = value;
    } else if (name == "hwid" && ParseNumber(value, 0, 255, number)) {
        config.hardwareId = static_cast<uint8_t>(number);
    } else if (name == "ident" && hasValue && value.size() <= kMaxIdentLength) {
        config.ident = value;
    } else if (name == "hex" && !value.empty()) {
        config.hexFile = value;
    } else if (name == "status-error" && hasValue) {
        return ParseStatusError(value, config);
    } else {
        return "bad board option '" + option + "'";
    }
    return "";
}

}  // namespace

std::string ParseBoardDescription(BoardKind kind, const std::string& description,
                                  BoardConfig& config) {
    config = BoardConfig{};
    config.kind = kind;
    config.version = kind == BoardKind::Puc ? "3100" : "2100";
    const std::vector<std::string> parts = Split(description, ',');
    unsigned long id = 0;
    if (parts.empty() || !ParseNumber(parts[0], 1, 127, id)) {
        return "a board needs its application node ID (1..127) first: '" + description + "'";
    }
    config.applNodeId = static_cast<uint8_t>(id);
    config.bootNodeId = config.applNodeId;
    for (size_t i = 1; i < parts.size(); ++i) {
        const std::string error = ParseOption(parts[i], config);
        if (!error.empty()) {
            return error;
        }
    }
    return "";
}

std::string BoardName(const BoardConfig& config) {
    return (config.kind == BoardKind::Puc ? "PUC " : "HT ") + std::to_string(config.applNodeId);
}

}  // namespace orv::sim
