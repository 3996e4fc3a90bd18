#include "canlink/SocketcandText.h"

#include <cstdio>
#include <sstream>

#include "text/HexDigit.h"

namespace orv {
namespace {

bool ParseHex(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 8) {
        return false;
    }
    value = 0;
    for (char c : text) {
        const int digit = orv::HexDigitValue(c);
        if (digit < 0) {
            return false;
        }
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    return true;
}

bool IsTimestamp(const std::string& text) {
    const size_t dot = text.find('.');
    if (dot == 0 || dot == std::string::npos || dot + 1 == text.size()) {
        return false;
    }
    return text.find_first_not_of("0123456789.") == std::string::npos &&
           text.find('.', dot + 1) == std::string::npos;
}

}  // namespace

void SocketcandSplitter::Feed(const char* bytes, size_t count) {
    // What Next has read goes once per feed, so that a stream of stray brackets costs no more
    // than its length.
    buffer_.erase(0, read_);
    read_ = 0;
    buffer_.append(bytes, count);
}

std::optional<std::string> SocketcandSplitter::Next() {
    for (;;) {
        const size_t open = buffer_.find('<', read_);
        if (open == std::string::npos) {
            buffer_.clear();
            read_ = 0;
            return std::nullopt;
        }
        const size_t end = buffer_.find_first_of("<>", open + 1);
        // A "<" before the closing bracket starts a new message: the one before it was cut off.
        if (end != std::string::npos && buffer_[end] == '<') {
            read_ = end;
            continue;
        }
        if (end == std::string::npos) {
            read_ = open;
            if (buffer_.size() - open > kMaxMessage) {
                buffer_.clear();
                read_ = 0;
            }
            return std::nullopt;
        }
        std::istringstream words(buffer_.substr(open + 1, end - open - 1));
        read_ = end + 1;
        std::string message;
        std::string word;
        while (words >> word) {
            message += message.empty() ? word : " " + word;
        }
        return message;
    }
}

bool ParseSocketcandFrame(const std::string& message, CanFrame& frame) {
    std::istringstream words(message);
    std::string keyword, id, time, data, extra;
    if (!(words >> keyword >> id >> time) || keyword != "frame" || !IsTimestamp(time)) {
        return false;
    }
    words >> data;  // absent for a frame without data
    if (words >> extra || data.size() % 2 != 0 || data.size() > 16) {
        return false;
    }
    CanFrame parsed;
    if (!ParseHex(id, parsed.id) || parsed.id > 0x1FFFFFFF) {
        return false;
    }
    parsed.length = static_cast<uint8_t>(data.size() / 2);
    for (size_t i = 0; i < parsed.length; ++i) {
        const int high = orv::HexDigitValue(data[2 * i]);
        const int low = orv::HexDigitValue(data[2 * i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        parsed.data[i] = static_cast<uint8_t>(high * 16 + low);
    }
    frame = parsed;
    return true;
}

std::string FormatSocketcandSend(const CanFrame& frame) {
    char text[64];
    int used =
        std::snprintf(text, sizeof text, frame.id > 0x7FF ? "< send %08X %u" : "< send %03X %u",
                      static_cast<unsigned>(frame.id), static_cast<unsigned>(frame.length));
    for (uint8_t i = 0; i < frame.length && i < 8; ++i) {
        used += std::snprintf(text + used, sizeof text - static_cast<size_t>(used), " %02X",
                              static_cast<unsigned>(frame.data[i]));
    }
    return std::string(text, static_cast<size_t>(used)) + " >";
}

std::optional<std::string> SocketcandErrorText(const std::string& message) {
    if (message == "error") {
        return std::string();
    }
    if (message.rfind("error ", 0) == 0) {
        return message.substr(6);
    }
    return std::nullopt;
}

}  // namespace orv
