#include "text/AnsiText.h"

#include <cstdint>

namespace orv {

std::wstring WidenAnsi(const std::string& text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (char c : text)
        wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return wide;
}

std::string NarrowAnsi(const std::wstring& text) {
    std::string narrow;
    narrow.reserve(text.size());
    // wchar_t is signed on some platforms and unsigned on others; negative ones become huge.
    for (wchar_t c : text)
        narrow += static_cast<uint32_t>(c) <= 0xFF ? static_cast<char>(c) : '?';
    return narrow;
}

}  // namespace orv
