#pragma once

#include <bit>
#include <cstdint>

namespace orv {

static_assert(std::endian::native == std::endian::little,
              "gateway records are little-endian on the wire and are sent as they stand in memory");

#pragma pack(push, 1)

// Download parameters of CCB_CMD_BOOT_INIT and CCB_CMD_CONFIGURE. The program image divides
// the seven initArgs bytes into page, startAddress, length and checksum.
struct BootInitParams {
    uint8_t busId = 0;  // reserved byte of the record; the image keeps the BusID here
    uint8_t nodeId = 0;
    uint8_t page = 0;
    uint16_t startAddress = 0;
    uint16_t length = 0;
    uint16_t checksum = 0;
    uint32_t replyTimeoutMs = 500;
    uint16_t replyBase = 0x0180;
    uint16_t requestBase = 0x0200;
};

// One sub-block of the image's block map; precedes the sub-block's data in CCB_CMD_WRITE_SUBBLOCK.
struct SubblockDescriptor {
    uint8_t page = 0;
    uint16_t address = 0;
    uint16_t length = 0;
    uint16_t checksum = 0;
    uint32_t parameter = 1000;
};

// One raw CAN frame for CCB_CMD_SEND_FRAME.
struct CanFrameRequest {
    uint32_t length = 44;
    uint32_t command = 109;
    uint8_t nodeId = 0;
    uint16_t baseId = 0x0200;
    uint8_t dataLengthCode = 0;
    uint8_t data[8] = {};
    uint8_t reserved[24] = {};
};

#pragma pack(pop)

static_assert(sizeof(BootInitParams) == 17);
static_assert(sizeof(SubblockDescriptor) == 11);
static_assert(sizeof(CanFrameRequest) == 44);

// Reply to CCB_CMD_SEND_FRAME, CCB_CMD_OPEN and CCB_CMD_RESET: byte count, command, status.
constexpr int kShortReplySize = 12;

}  // namespace orv
