#pragma once

#include <cstdint>

namespace orv {

// The first byte of each 8-byte frame a boot loader takes; segments and information-block
// writes carry a count (and a flag) in the low bits too. Shared by the transports that carry the
// gateway commands out themselves, the raw-frame download and the simulated boards.
enum class BootFrame : uint8_t {
    Init = 0x00,
    PdoChecksum = 0x01,
    SubblockHeader = 0x10,
    Segment = 0x20,
    Program = 0x30,
    Validate = 0x40,
    Poll = 0x50,
    ReadCode = 0x60,
    GetInfo = 0x70,
    JumpToApp = 0x80,
    SetBytes = 0x90,
    WriteEnable = 0xAA,
    FlashExtInfo = 0xB0,
    InitExtInfo = 0xC0,
    Abort = 0xFF,
};

// The byte that stands first in the frame.
constexpr uint8_t ToByte(BootFrame command) {
    return static_cast<uint8_t>(command);
}

// Second byte of the write-enable frame.
constexpr uint8_t kWriteEnableKey = 0x55;
// Alternates from one segment to the next, starting clear.
constexpr uint8_t kSegmentToggle = 0x08;
constexpr uint32_t kSegmentDataBytes = 7;
// Byte 1 of a poll answer: the node is still erasing or programming.
constexpr uint8_t kBusyBits = 0x03;

constexpr uint8_t SegmentHeader(uint8_t toggle, uint32_t count) {
    return static_cast<uint8_t>(ToByte(BootFrame::Segment) | toggle | count);
}

// Variant 2 of the boot protocol sends a page byte and three 16-bit values high byte first;
// fields holds them as the records store them, page first, values little-endian.
inline void PutHighByteFirstFrame(uint8_t (&frame)[8], uint8_t command, const uint8_t* fields) {
    frame[0] = command;
    frame[1] = fields[0];
    for (int i = 0; i < 3; ++i) {
        frame[2 + 2 * i] = fields[2 + 2 * i];
        frame[3 + 2 * i] = fields[1 + 2 * i];
    }
}

}  // namespace orv
