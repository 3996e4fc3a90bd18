#pragma once

#include <cstdint>

// What the simulated boot loaders and the simulated gateway board say: the first byte of each
// frame to a boot loader, the network-management specifiers, and the gateway command codes (a
// scenario names a board's frame by the gateway command that puts it on the bus).
namespace orv::sim {

// First byte of a frame to a boot loader. Segments and information-byte writes carry a count in
// the low bits too.
constexpr uint8_t kFrameInit = 0x00;
constexpr uint8_t kFramePdoChecksum = 0x01;
constexpr uint8_t kFrameSubblockHeader = 0x10;
constexpr uint8_t kFrameSegment = 0x20;
constexpr uint8_t kFrameProgram = 0x30;
constexpr uint8_t kFrameValidate = 0x40;
constexpr uint8_t kFramePoll = 0x50;
constexpr uint8_t kFrameReadCode = 0x60;
constexpr uint8_t kFrameGetInfo = 0x70;
constexpr uint8_t kFrameJumpToApp = 0x80;
constexpr uint8_t kFrameSetBytes = 0x90;
constexpr uint8_t kFrameWriteEnable = 0xAA;
constexpr uint8_t kFrameFlashExtInfo = 0xB0;
constexpr uint8_t kFrameInitExtInfo = 0xC0;
constexpr uint8_t kFrameAbort = 0xFF;

// Second byte of the write-enable frame.
constexpr uint8_t kWriteEnableKey = 0x55;
// A segment is {0x20 | toggle | count, count bytes}; the toggle starts clear and alternates.
constexpr uint8_t kSegmentToggle = 0x08;
constexpr uint8_t kSegmentCount = 0x07;

// Network-management frames: identifier 0, {specifier, node}; node 0 addresses every node.
constexpr uint32_t kNmtId = 0;
constexpr uint8_t kNmtStart = 0x01;
constexpr uint8_t kNmtEnterPreOperational = 0x80;
constexpr uint8_t kNmtEnterBootLoader = 0x96;

// Gateway command codes.
constexpr uint32_t CCB_CMD_OPEN = 100;
constexpr uint32_t CCB_CMD_RESET = 108;
constexpr uint32_t CCB_CMD_SEND_FRAME = 109;
constexpr uint32_t CCB_CMD_BOOT_INIT = 200;
constexpr uint32_t CCB_CMD_WRITE_SUBBLOCK = 201;
constexpr uint32_t CCB_CMD_ABORT = 202;
constexpr uint32_t CCB_CMD_WRITE_ENABLE = 203;
constexpr uint32_t CCB_CMD_READ_CODE = 204;
constexpr uint32_t CCB_CMD_JUMP_TO_APP = 205;
constexpr uint32_t CCB_CMD_FINALIZE = 206;
constexpr uint32_t CCB_CMD_GET_STATUS = 207;
constexpr uint32_t CCB_CMD_GET_INFO = 208;
constexpr uint32_t CCB_CMD_VALIDATE = 209;
constexpr uint32_t CCB_CMD_PROGRAM_SUBBLOCK = 210;
constexpr uint32_t CCB_CMD_SELECT_VARIANT_1 = 212;
constexpr uint32_t CCB_CMD_SELECT_VARIANT_2 = 213;
constexpr uint32_t CCB_CMD_SEND_DATA = 215;
constexpr uint32_t CCB_CMD_INIT_EXT_INFO = 217;
constexpr uint32_t CCB_CMD_CONFIGURE = 218;

}  // namespace orv::sim
