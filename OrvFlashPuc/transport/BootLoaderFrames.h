#pragma once

#include <cstdint>

namespace orv {

// The first byte of each 8-byte frame a boot loader takes; segments and information-block
// writes carry a count (and a flag) in the low bits too. Shared by the transports that carry the
// gateway commands out themselves, the raw-frame download and the simulated boards.
enum BootFrame : uint8_t {
    BOOT_FRAME_INIT = 0x00,
    BOOT_FRAME_PDO_CHECKSUM = 0x01,
    BOOT_FRAME_SUBBLOCK_HEADER = 0x10,
    BOOT_FRAME_SEGMENT = 0x20,
    BOOT_FRAME_PROGRAM = 0x30,
    BOOT_FRAME_VALIDATE = 0x40,
    BOOT_FRAME_POLL = 0x50,
    BOOT_FRAME_READ_CODE = 0x60,
    BOOT_FRAME_GET_INFO = 0x70,
    BOOT_FRAME_JUMP_TO_APP = 0x80,
    BOOT_FRAME_SET_BYTES = 0x90,
    BOOT_FRAME_WRITE_ENABLE = 0xAA,
    BOOT_FRAME_FLASH_EXT_INFO = 0xB0,
    BOOT_FRAME_INIT_EXT_INFO = 0xC0,
    BOOT_FRAME_ABORT = 0xFF,
};

// Second byte of the write-enable frame.
constexpr uint8_t kWriteEnableKey = 0x55;
// Alternates from one segment to the next, starting clear.
constexpr uint8_t kSegmentToggle = 0x08;
constexpr uint32_t kSegmentDataBytes = 7;
// Byte 1 of a poll answer: the node is still erasing or programming.
constexpr uint8_t kBusyBits = 0x03;

constexpr uint8_t SegmentHeader(uint8_t toggle, uint32_t count) {
    return static_cast<uint8_t>(BOOT_FRAME_SEGMENT | toggle | count);
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
