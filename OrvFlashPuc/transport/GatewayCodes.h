#pragma once

#include <cstdint>

namespace orv {

// Gateway command codes and reply statuses, as they travel in CCcbMessage.
enum CcbCommand : uint32_t {
    CCB_CMD_OPEN = 100,
    CCB_CMD_RESET = 108,
    CCB_CMD_SEND_FRAME = 109,
    CCB_CMD_BOOT_INIT = 200,
    CCB_CMD_WRITE_SUBBLOCK = 201,
    CCB_CMD_ABORT = 202,
    CCB_CMD_WRITE_ENABLE = 203,
    CCB_CMD_READ_CODE = 204,
    CCB_CMD_JUMP_TO_APP = 205,
    CCB_CMD_FINALIZE = 206,
    CCB_CMD_GET_STATUS = 207,
    CCB_CMD_GET_INFO = 208,
    CCB_CMD_VALIDATE = 209,
    CCB_CMD_PROGRAM_SUBBLOCK = 210,
    CCB_CMD_RESERVED_211 = 211,
    CCB_CMD_SELECT_VARIANT_1 = 212,
    CCB_CMD_SELECT_VARIANT_2 = 213,
    CCB_CMD_RESERVED_214 = 214,
    CCB_CMD_SEND_DATA = 215,
    CCB_CMD_RESERVED_216 = 216,
    CCB_CMD_INIT_EXT_INFO = 217,
    CCB_CMD_CONFIGURE = 218,
};

enum CcbStatus : uint32_t {
    CCB_STATUS_NOT_EXECUTED = 0,
    CCB_STATUS_OK = 100,
    CCB_STATUS_NO_REPLY = 101,
    CCB_STATUS_SAME_SUBBLOCK = 102,
    CCB_STATUS_NO_VARIANT = 104,
};

// CANopen network-management command specifiers used by the boot loader.
enum class NmtCommand : uint8_t {
    Start = 0x01,
    EnterPreOperational = 0x80,
    EnterBootLoader = 0x96,
};

// The command specifier as the NMT frame carries it.
constexpr uint8_t ToByte(NmtCommand command) {
    return static_cast<uint8_t>(command);
}

}  // namespace orv
