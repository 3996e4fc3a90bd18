#pragma once

#include <cstdint>
#include <string>

// The pieces of text the conversation's lines are made of.
namespace orv::buslog {

// The status byte of a boot loader that is erasing or programming.
constexpr uint8_t kBusyStatus = 0x06;

// Seconds with three decimals: "12.345".
std::string Stamp(int64_t micros);

// A duration rounded to hundredths: "0.13 s".
std::string Seconds(int64_t micros);

// "1 frame", "2 frames": the noun takes an s unless there is one.
std::string Count(uint64_t count, const char* noun);

// "0x" and at least `digits` upper-case hexadecimal digits.
std::string Hex(uint32_t value, int digits);

// Bytes as upper-case hexadecimal pairs separated by blanks.
std::string HexBytes(const uint8_t* bytes, size_t count);

// A boot loader's status byte: "OK", "busy" (0x06) or "error 0x04 (out of sequence)".
std::string StatusText(uint8_t status);

// A boot code information answer: the version with the hardware ID, an identification text in
// quotes, or the bytes.
std::string BootCodeAnswer(const uint8_t (&answer)[8]);

}  // namespace orv::buslog
