#include "OrvBusLog/reader/CandumpLine.h"

#include "text/HexDigit.h"

namespace orv::buslog {
namespace {

// More digits would overflow the microseconds; no log is that old.
constexpr size_t kMaxSecondDigits = 12;
constexpr size_t kMaxFlexibleBytes = 64;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Takes the longest run of characters that pass the test from the front of text.
template <typename Test>
std::string_view TakeWhile(std::string_view& text, Test test) {
    size_t count = 0;
    while (count < text.size() && test(text[count])) {
        ++count;
    }
    const std::string_view run = text.substr(0, count);
    text.remove_prefix(count);
    return run;
}

bool TakeChar(std::string_view& text, char expected) {
    if (text.empty() || text.front() != expected) {
        return false;
    }
    text.remove_prefix(1);
    return true;
}

uint64_t HexValue(std::string_view digits) {
    uint64_t value = 0;
    for (const char c : digits) {
        value = value << 4 | static_cast<unsigned>(HexDigitValue(c));
    }
    return value;
}

// "(SECONDS.FRACTION)"; a fraction longer than microseconds is cut, a shorter one scaled.
std::optional<int64_t> TakeTimestamp(std::string_view& text) {
    if (!TakeChar(text, '(')) {
        return std::nullopt;
    }
    const std::string_view seconds = TakeWhile(text, IsDigit);
    if (seconds.empty() || seconds.size() > kMaxSecondDigits || !TakeChar(text, '.')) {
        return std::nullopt;
    }
    const std::string_view fraction = TakeWhile(text, IsDigit);
    if (fraction.empty() || !TakeChar(text, ')')) {
        return std::nullopt;
    }
    int64_t micros = 0;
    for (const char c : seconds) {
        micros = micros * 10 + (c - '0');
    }
    for (size_t i = 0; i < 6; ++i) {
        micros = micros * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
    }
    return micros;
}

// Hexadecimal byte pairs; false when a digit is missing or there are more than maxBytes.
bool TakeHexBytes(std::string_view text, size_t maxBytes, CanFrame* frame) {
    if (text.size() % 2 != 0 || text.size() / 2 > maxBytes) {
        return false;
    }
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigitValue(text[i]);
        const int low = HexDigitValue(text[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        if (frame != nullptr) {
            frame->data[i / 2] = static_cast<uint8_t>(high << 4 | low);
        }
    }
    if (frame != nullptr) {
        frame->length = static_cast<uint8_t>(text.size() / 2);
    }
    return true;
}

// What follows "ID#": data bytes, R with an optional length digit, or #FLAGS DATA.
bool ParseFrameBody(std::string_view body, LoggedFrame& logged) {
    if (TakeChar(body, 'R')) {
        logged.kind = FrameKind::Remote;
        return body.empty() || (body.size() == 1 && body[0] >= '0' && body[0] <= '8');
    }
    if (TakeChar(body, '#')) {
        logged.kind = FrameKind::FlexibleData;
        return !body.empty() && HexDigitValue(body[0]) >= 0 &&
               TakeHexBytes(body.substr(1), kMaxFlexibleBytes, nullptr);
    }
    return TakeHexBytes(body, sizeof logged.frame.data, &logged.frame);
}

bool ParseFrame(std::string_view text, LoggedFrame& logged) {
    const std::string_view id = TakeWhile(text, [](char c) { return HexDigitValue(c) >= 0; });
    if ((id.size() != 3 && id.size() != 8) || !TakeChar(text, '#')) {
        return false;
    }
    logged.extended = id.size() == 8;
    logged.frame.id = static_cast<uint32_t>(HexValue(id));
    if (!logged.extended && logged.frame.id > 0x7FF) {
        return false;
    }
    return ParseFrameBody(text, logged);
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

std::optional<LoggedFrame> ParseCandumpLine(std::string_view line) {
    while (!line.empty() && (IsBlank(line.back()) || line.back() == '\r' || line.back() == '\n')) {
        line.remove_suffix(1);
    }
    LoggedFrame logged;
    const std::optional<int64_t> micros = TakeTimestamp(line);
    if (!micros || TakeWhile(line, IsBlank).empty()) {
        return std::nullopt;
    }
    logged.micros = *micros;
    const std::string_view iface = TakeWhile(line, [](char c) { return !IsBlank(c); });
    if (iface.empty() || TakeWhile(line, IsBlank).empty() || !ParseFrame(line, logged)) {
        return std::nullopt;
    }
    return logged;
}

}  // namespace orv::buslog
