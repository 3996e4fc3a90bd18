#include "text/AnsiText.h"

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
    for (wchar_t c : text)
        narrow += c >= 0 && c <= 0xFF ? static_cast<char>(c) : '?';
    return narrow;
}

}  // namespace orv
