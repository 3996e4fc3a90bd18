#include "OrvBusLog/reader/StepText.h"

#include <cinttypes>
#include <cstdio>

namespace orv::buslog {
namespace {

const char* StatusMeaning(uint8_t status) {
    switch (status) {
        case 0x01:
            return "toggle mismatch";
        case 0x02:
            return "checksum mismatch";
        case 0x03:
            return "no write enable";
        case 0x04:
            return "out of sequence";
        case 0x05:
            return "address out of range";
        case 0x07:
            return "unknown command";
        default:
            return nullptr;
    }
}

bool IsPrintable(uint8_t c) {
    return c >= 0x20 && c < 0x7F;
}

// The text up to the first NUL, when it is all printable and not empty.
std::string PrintableText(const uint8_t* bytes, size_t count) {
    std::string text;
    for (size_t i = 0; i < count && bytes[i] != 0; ++i) {
        if (!IsPrintable(bytes[i])) {
            return {};
        }
        text += static_cast<char>(bytes[i]);
    }
    return text;
}

}  // namespace

std::string Stamp(int64_t micros) {
    const char* sign = micros < 0 ? "-" : "";
    const int64_t magnitude = micros < 0 ? -micros : micros;
    char text[40];
    std::snprintf(text, sizeof text, "%s%" PRId64 ".%03" PRId64, sign, magnitude / 1000000,
                  magnitude % 1000000 / 1000);
    return text;
}

std::string Seconds(int64_t micros) {
    const int64_t hundredths = (micros + 5000) / 10000;
    char text[40];
    std::snprintf(text, sizeof text, "%" PRId64 ".%02" PRId64 " s", hundredths / 100,
                  hundredths % 100);
    return text;
}

std::string Count(uint64_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string Hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*" PRIX32, digits, value);
    return text;
}

std::string HexBytes(const uint8_t* bytes, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += pair;
    }
    return text;
}

std::string StatusText(uint8_t status) {
    if (status == kBusyStatus) {
        return "busy";
    }
    if (status == 0) {
        return "OK";
    }
    const char* meaning = StatusMeaning(status);
    return "error " + Hex(status, 2) +
           (meaning != nullptr ? std::string(" (") + meaning + ")" : "");
}

std::string BootCodeAnswer(const uint8_t (&answer)[8]) {
    const std::string version = PrintableText(answer + 1, 4);
    if (answer[0] == 0 && version.size() == 4) {
        return version + ", hardware ID " + Hex(answer[7], 2);
    }
    const std::string ident = PrintableText(answer, sizeof answer);
    if (!ident.empty()) {
        return "\"" + ident + "\"";
    }
    return HexBytes(answer, sizeof answer);
}

}  // namespace orv::buslog
