#include "OrvCanSim/bridge/SocketcandCommands.h"

#include <sstream>
#include <vector>

#include "OrvCanSim/bus/FrameText.h"

namespace orv::sim {
namespace {

// How socketcand tells the two formats apart; shorter standard identifiers are taken too, as
// some clients do not pad them.
constexpr size_t kStandardIdDigits = 3;
constexpr size_t kExtendedIdDigits = 8;

bool ParseHex(const std::string& text, size_t maxDigits, unsigned long& value) {
    if (text.empty() || text.size() > maxDigits ||
        text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return false;
    }
    value = std::stoul(text, nullptr, 16);
    return true;
}

}  // namespace

std::string ParseSendCommand(const std::string& message, CanFrame& frame) {
    std::istringstream stream(message);
    std::vector<std::string> words;
    for (std::string word; stream >> word;) {
        words.push_back(word);
    }
    unsigned long id = 0;
    unsigned long length = 0;
    if (words.size() < 3 || words[0] != "send" || !ParseHex(words[1], kExtendedIdDigits, id) ||
        !ParseHex(words[2], 1, length)) {
        return "send wants an identifier, a length and the data bytes";
    }
    const bool extended = words[1].size() == kExtendedIdDigits;
    if (!extended && (words[1].size() > kStandardIdDigits || id > kStandardIdMask)) {
        return "a standard identifier has up to 3 hexadecimal digits and 11 bits; an extended one "
               "8 digits";
    }
    if (id > kExtendedIdMask) {
        return "an extended identifier has 29 bits";
    }
    if (length > 8 || words.size() != 3 + length) {
        return "the length does not match the data bytes";
    }
    CanFrame parsed;
    parsed.id = static_cast<uint32_t>(id) | (extended ? kExtendedFrame : 0);
    parsed.length = static_cast<uint8_t>(length);
    for (size_t i = 0; i < length; ++i) {
        unsigned long byte = 0;
        if (!ParseHex(words[3 + i], 2, byte)) {
            return "bad data byte '" + words[3 + i] + "'";
        }
        parsed.data[i] = static_cast<uint8_t>(byte);
    }
    frame = parsed;
    return "";
}

std::string FormatFrameMessage(const CanFrame& frame, WallTime when) {
    return "< frame " + FormatCanId(frame) + " " + FormatTimestamp(when) + " " +
           FormatHexData(frame) + " >";
}

}  // namespace orv::sim
