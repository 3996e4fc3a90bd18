#pragma once

#include <cstdint>

// The status byte that a boot loader reports in byte 0 of its poll answer, and the busy bits of
// byte 1. The values are this simulator's own.
namespace orv::sim {

constexpr uint8_t kStatusOk = 0x00;
constexpr uint8_t kStatusToggleMismatch = 0x01;
constexpr uint8_t kStatusChecksumMismatch = 0x02;
constexpr uint8_t kStatusNoWriteEnable = 0x03;
constexpr uint8_t kStatusOutOfSequence = 0x04;
constexpr uint8_t kStatusOutOfRange = 0x05;
constexpr uint8_t kStatusBusy = 0x06;
constexpr uint8_t kStatusUnknownCommand = 0x07;

constexpr uint8_t kBusyErasing = 0x01;
constexpr uint8_t kBusyProgramming = 0x02;

// A short description for the log; "injected" for values that no real condition produces.
const char* BootStatusText(uint8_t status);

}  // namespace orv::sim
