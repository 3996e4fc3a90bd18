#pragma once

#include <cstddef>
#include <cstdint>

namespace orv {

// The entry points of the USB adapter's "CANAPI.DLL" that USBLight looks up, and that our own
// libcanapi provides. Records are 32-bit little-endian words.
namespace canapi {

using Result = int32_t;  // non-zero: done (for ca_GetData_1, 1: a record was delivered)

constexpr uint32_t kApiVersion = 0x1000B;
constexpr uint32_t kApiBufferSize = 768;
constexpr uint32_t kRecordCanFrame = 0x7001;

// ca_Instruction_1: word 0 the instruction, words 1..3 unused, then its four arguments.
struct InstructionRecord {
    uint32_t instruction = 0xB3;
    uint32_t unused[3] = {};
    uint32_t arguments[4] = {0, 3, 0xD0, 0x90};
};

// ca_InitCanCard_1: acceptance filter block.
struct FilterBlock {
    uint32_t words[16] = {0, 0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 0, 255, 255, 255, 255};
};

// ca_TransmitCanCard_1: one frame, one data byte per word.
struct TransmitRecord {
    uint32_t id = 0;
    uint32_t length = 0;
    uint32_t data[8] = {};
    uint32_t unused = 0;
    uint32_t flags = 0;
};

// ca_GetData_1 writes one record into the caller's buffer. Only the fields up to offset 43 are
// known, and the library may write beyond them, so the driver hands it kReceiveBufferBytes and
// reads just these: the type word (only kRecordCanFrame carries a frame), the identifier in the
// low 16 bits of the next word, the length in the low 4 bits of the byte at offset 8, and from
// offset 12 one data byte per word.
constexpr size_t kReceiveBufferBytes = 256;
constexpr size_t kReceiveTypeOffset = 0;
constexpr size_t kReceiveIdOffset = 4;
constexpr size_t kReceiveLengthOffset = 8;
constexpr size_t kReceiveDataOffset = 12;

// The record as our own library writes it.
struct ReceiveRecord {
    uint32_t type = 0;
    uint32_t id = 0;  // low 16 bits
    uint32_t lengthWord = 0;
    uint32_t data[8] = {};
    uint32_t timestamp = 0;
};

static_assert(sizeof(InstructionRecord) == 32);
static_assert(sizeof(FilterBlock) == 64);
static_assert(sizeof(TransmitRecord) == 48);
static_assert(sizeof(ReceiveRecord) == 48);

}  // namespace canapi

extern "C" {
canapi::Result ca_InitApi_1(uint32_t version, uint32_t bufferSize);
canapi::Result ca_ResetCanCard_1();
canapi::Result ca_InitCanCard_1(uint32_t card, uint32_t mode, uint32_t bitTiming0,
                                uint32_t bitTiming1, const canapi::FilterBlock* filters,
                                uint32_t receiveQueueLength, uint32_t transmitQueueLength,
                                uint32_t reserved0, uint32_t reserved1, uint32_t reserved2);
canapi::Result ca_TransmitCanCard_1(uint32_t card, uint32_t flags,
                                    const canapi::TransmitRecord* record);
canapi::Result ca_GetData_1(uint8_t* record);
canapi::Result ca_ResetSoftwareFilterMask_1();
canapi::Result ca_SetAllId_1(uint32_t accept);
canapi::Result ca_SetFilterId_1(uint32_t id, uint32_t accept);
canapi::Result ca_Instruction_1(const canapi::InstructionRecord* record);
canapi::Result ca_GetCharData_1(uint8_t* buffer, uint32_t capacity);
canapi::Result ca_GetCharCplxData_1(uint8_t* buffer, uint32_t capacity);
canapi::Result ca_ClearFifo_1();
canapi::Result ca_SetFilterVar_1(uint32_t first, uint32_t last, uint32_t accept);
canapi::Result ca_CloseApi();
}

namespace canapi {

// Every entry point must exist for the driver to take the library; seven are called.
struct EntryPoints {
    decltype(&ca_InitApi_1) initApi = nullptr;
    decltype(&ca_ResetCanCard_1) resetCanCard = nullptr;
    decltype(&ca_InitCanCard_1) initCanCard = nullptr;
    decltype(&ca_TransmitCanCard_1) transmitCanCard = nullptr;
    decltype(&ca_GetData_1) getData = nullptr;
    decltype(&ca_ResetSoftwareFilterMask_1) resetSoftwareFilterMask = nullptr;
    decltype(&ca_SetAllId_1) setAllId = nullptr;
    decltype(&ca_SetFilterId_1) setFilterId = nullptr;
    decltype(&ca_Instruction_1) instruction = nullptr;
    decltype(&ca_GetCharData_1) getCharData = nullptr;
    decltype(&ca_GetCharCplxData_1) getCharCplxData = nullptr;
    decltype(&ca_ClearFifo_1) clearFifo = nullptr;
    decltype(&ca_SetFilterVar_1) setFilterVar = nullptr;
    decltype(&ca_CloseApi) closeApi = nullptr;
};

}  // namespace canapi

}  // namespace orv
