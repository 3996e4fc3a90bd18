#pragma once

#include <string>

// Conversion between 8-bit text (file contents, names from the command line or a board) and
// wide text: each byte is one wide character, so narrowing gives the same bytes back.
namespace orv {

std::wstring WidenAnsi(const std::string& text);
// Characters beyond 8 bits, which no widened text holds, become '?'.
std::string NarrowAnsi(const std::wstring& text);

}  // namespace orv
