#pragma once

namespace orv {

// The value of one hexadecimal digit of either case, or -1 for any other character.
constexpr int HexDigitValue(int character) {
    if (character >= '0' && character <= '9') {
        return character - '0';
    }
    if (character >= 'a' && character <= 'f') {
        return character - 'a' + 10;
    }
    if (character >= 'A' && character <= 'F') {
        return character - 'A' + 10;
    }
    return -1;
}

}  // namespace orv
