#include <algorithm>
#include <cstring>

#include "os/Clock.h"
#include "os/Console.h"
#include "protocol/PucDownloadProtocol.h"
#include "protocol/RequestCatalogue.h"
#include "transport/BootLoaderFrames.h"
#include "transport/GatewayCodes.h"

namespace orv {

using namespace protocol;

namespace {
constexpr uint16_t kInfoBlockAddress = 0x4000;
constexpr uint16_t kFileNameAddress = 0x4010;
constexpr uint16_t kFileDateAddress = 0x4020;
constexpr uint16_t kFlashDateAddress = 0x4028;
constexpr uint16_t kFileVersionAddress = 0x4030;
constexpr uint16_t kSoftCanIdAddress = 0x4034;
constexpr uint16_t kInfoByteAddress = 0x4011;
constexpr size_t kFileNameSize = 16;
constexpr size_t kDateSize = 8;
// The extended part as read: 0x4010..0x404F in eight 8-byte cells.
constexpr size_t kExtendedSize = 64;
constexpr uint16_t kValidApplication = 0xA5A5;
constexpr int kMaxBytesPerWrite = 5;
constexpr uint8_t kSetBytesFlagBit = 0x08;
constexpr uint8_t kSoftIdInactiveBit = 0x80;

// The first words of the block are stored most significant byte first.
uint16_t BigEndianWord(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

const uint8_t* At(const uint8_t* extended, uint16_t address) {
    return extended + (address - kFileNameAddress);
}
void PrintInfoText(const char* format, const uint8_t* field, size_t size) {
    // Erased flash (0xFF) and other non-ASCII bytes end the text.
    char text[kFileNameSize + 1] = {};
    for (size_t i = 0; i < size; ++i) {
        text[i] = field[i] >= 0x80 ? '\0' : static_cast<char>(field[i]);
    }
    if (text[0] != '\0') {
        ConsolePrintf(format, text);
    }
}
// The extended part of the information block, as the boot code keeps it from version 2 on.
void PrintChipContent(const uint8_t* extended) {
    ConsolePrintf("Chip content:\n");
    PrintInfoText("\tFile name       : %s\n", At(extended, kFileNameAddress), kFileNameSize);
    PrintInfoText("\tFile mod. date  : %s\n", At(extended, kFileDateAddress), kDateSize);
    PrintInfoText("\tFlashing date   : %s\n", At(extended, kFlashDateAddress), kDateSize);
    uint32_t fileVersion = 0;
    std::memcpy(&fileVersion, At(extended, kFileVersionAddress), sizeof(fileVersion));
    ConsolePrintf("\tFile Version    : 0x%0X\n", fileVersion);
    const uint8_t softCanId = *At(extended, kSoftCanIdAddress);
    ConsolePrintf("\tSoft. CAN ID    : 0x%0X", static_cast<unsigned>(softCanId));
    if ((softCanId & kSoftIdInactiveBit) != 0) {
        ConsolePrintf(" - not activated\n");
    } else if (softCanId == 0) {
        ConsolePrintf(" - hwdID used as BOOT code CAN node ID\n");
    } else {
        ConsolePrintf("\n");
    }
}
}  // namespace

bool CPucDownloadProtocol::PrintInfoBlock() {
    uint8_t head[8];
    if (!DebugController(kInfoBlockAddress, 0, 0, head)) {
        return false;
    }
    applicationFlag = BigEndianWord(head);
    chipChecksum = BigEndianWord(head + 2);
    entryAddress = BigEndianWord(head + 4);
    if (applicationFlag == kValidApplication) {
        ConsolePrintf("FLASH memory contains valid application flag (0x%X)\n",
                      static_cast<unsigned>(kValidApplication));
        ConsolePrintf("App file check sum: 0x%X\n", static_cast<unsigned>(chipChecksum));
        ConsolePrintf("App entry address is 0x%X\n", static_cast<unsigned>(entryAddress));
    } else {
        ConsolePrintf("FLASH memory contains no application\n");
    }
    ConsoleFlush();

    uint8_t extended[kExtendedSize];
    for (size_t k = 0; k < kExtendedSize; k += 8) {
        if (!DebugController(static_cast<uint16_t>(kFileNameAddress + k), 0, 0, extended + k)) {
            return false;
        }
    }
    // Boot codes before version 2 keep no extended part.
    if (BootCodeLead() < '2') {
        return true;
    }
    PrintChipContent(extended);
    ConsoleFlush();
    return true;
}

bool CPucDownloadProtocol::SetBytes(int flag, uint16_t address, int count, const uint8_t* bytes) {
    if (BootCodeLead() < '2') {
        ConsolePrintf("SetBytes - not supported operaion with this version of BOOT code\n");
        ConsoleFlush();
        return false;
    }
    if (!IsValid()) {
        return false;
    }
    const uint8_t opcode = ToByte(BootFrame::SetBytes) | (flag != 0 ? kSetBytesFlagBit : 0);
    for (int remaining = count; remaining > 0;) {
        const int n = std::min(remaining, kMaxBytesPerWrite);
        uint8_t payload[3 + kMaxBytesPerWrite];
        payload[0] = static_cast<uint8_t>(opcode | n);
        payload[1] = static_cast<uint8_t>(address & 0xFF);
        payload[2] = static_cast<uint8_t>(address >> 8);
        std::memcpy(payload + 3, bytes, static_cast<size_t>(n));
        if (!Run({.command = CCB_CMD_SEND_DATA,
                  .data = payload,
                  .count = static_cast<uint32_t>(n + 3),
                  .checksTransport = true,
                  .failed = "SetBytes: FAILED\n"})) {
            return false;
        }
        request.Clear();
        address = static_cast<uint16_t>(address + n);
        bytes += n;
        remaining -= n;
    }
    return true;
}

bool CPucDownloadProtocol::WriteInfoText(uint16_t address, const char* text, size_t capacity) {
    const size_t length = strnlen(text, capacity);
    return SetBytes(0, address, static_cast<int>(length), reinterpret_cast<const uint8_t*>(text));
}

bool CPucDownloadProtocol::SendInfoBlockData() {
    if (image == nullptr) {
        return false;
    }
    // Only the characters travel: a shorter text leaves the rest of its field as it was.
    uint8_t fileVersion[4];
    std::memcpy(fileVersion, &image->fileVersion, sizeof(fileVersion));
    const bool sent = WriteInfoText(kFileNameAddress, image->foundFileName, kFileNameSize) &&
                      WriteInfoText(kFileDateAddress, image->fileDate, kDateSize) &&
                      WriteInfoText(kFlashDateAddress, image->loadDate, kDateSize) &&
                      SetBytes(0, kFileVersionAddress, sizeof(fileVersion), fileVersion) &&
                      SetBytes(0, kSoftCanIdAddress, 1, &applNodeId);
    if (!sent) {
        return false;
    }
    ConsolePrintf("SendInfoBlockData DONE\n");
    ConsoleFlush();
    return true;
}

bool CPucDownloadProtocol::InitExtendedInfoUpdate(uint32_t node) {
    if (!IsValid()) {
        return false;
    }
    uint8_t payload[16] = {};
    std::memcpy(payload, &node, sizeof(node));
    return Run({.command = CCB_CMD_INIT_EXT_INFO,
                .data = payload,
                .count = sizeof(payload),
                .checksTransport = true,
                .done = "InitExtendedInfoUpdate: DONE\n",
                .failed = "InitExtendedInfoUpdate: FAILED\n"});
}

bool CPucDownloadProtocol::FlashExtInfoBlk() {
    if (!IsValid()) {
        return false;
    }
    const uint8_t payload = ToByte(BootFrame::FlashExtInfo);
    return Run({.command = CCB_CMD_SEND_DATA,
                .data = &payload,
                .count = 1,
                .checksTransport = true,
                .done = "FlashExtInfoBlk: DONE\n",
                .failed = "FlashExtInfoBlk: FAILED\n"});
}

bool CPucDownloadProtocol::SetInfoBlockByte(uint8_t value) {
    return SetBytes(0, kInfoByteAddress, 1, &value);
}

bool CPucDownloadProtocol::SetBootNodeId(uint8_t newNodeId) {
    const uint8_t node = static_cast<uint8_t>(nodeId);
    if (transport->Open(node) != 0 || !DnlContSelection() || !SelectBootNode(node, 0) ||
        !GetStatus() || !InitExtendedInfoUpdate(nodeId) ||
        !SetBytes(0, kSoftCanIdAddress, 1, &newNodeId) || !WriteEnable() || !FlashExtInfoBlk()) {
        return false;
    }
    // The boot loader needs the time to write the block into flash.
    SleepMs(3000);
    return GetStatus();
}

}  // namespace orv
