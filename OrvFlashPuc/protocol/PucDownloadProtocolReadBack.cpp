#include <cstring>

#include "os/Console.h"
#include "protocol/PucDownloadProtocol.h"
#include "protocol/RequestCatalogue.h"
#include "transport/BootLoaderFrames.h"
#include "transport/GatewayCodes.h"

namespace orv {

using namespace protocol;

namespace {
// The boot loader keeps the upper 64 KiB of a PUC's flash in page 6.
constexpr uint8_t kHighPage = 6;
constexpr uint32_t kPageSpan = 0x10000;
constexpr uint32_t kCellSize = 8;
}  // namespace

const uint8_t* CPucDownloadProtocol::ReadCode(uint16_t address, bool highPage) {
    const uint8_t payload[8] = {ToByte(BootFrame::ReadCode),
                                0x00,
                                static_cast<uint8_t>(address & 0xFF),
                                static_cast<uint8_t>(address >> 8),
                                highPage ? kHighPage : uint8_t{0},
                                0,
                                0,
                                0};
    // A failed exchange leaves the preset status and so fails below.
    ExchangeData(CCB_CMD_READ_CODE, payload, sizeof(payload), kWithDataCapacity, kShortTimeoutMs);
    return ReplyOk() ? reply.GetData() : nullptr;
}

bool CPucDownloadProtocol::DebugController(uint16_t address, int page, int print, uint8_t* out) {
    // HT boards do not answer memory reads.
    if (mode == MODE_HT) {
        return false;
    }
    const uint8_t* cell = ReadCode(address, page != 0);
    if (cell == nullptr) {
        ConsolePrintf("Error: Debug controller FAILED\n");
        ConsoleFlush();
        return false;
    }
    if (out != nullptr) {
        std::memcpy(out, cell, kCellSize);
    }
    if (print != 0) {
        ConsolePrintf("CODE: (Address:0x%X, Bank:%d, Data: ", static_cast<unsigned>(address), page);
        ConsoleFlush();
        for (uint32_t i = 0; i < kCellSize; ++i) {
            ConsolePrintf("0x%X ", static_cast<unsigned>(cell[i]));
        }
        ConsolePrintf(")\n");
        ConsoleFlush();
    }
    return true;
}

bool CPucDownloadProtocol::UploadSubblock(uint16_t address, uint8_t pageFlag, bool print,
                                          bool check) {
    const uint32_t offset = pageFlag * kPageSpan + address;
    // A window beyond the read-back buffer cannot be stored; nothing is asked for then.
    if (image == nullptr || offset + CProgramImage::kSubblockSize > CProgramImage::kImageSize) {
        return false;
    }
    if (print) {
        ConsolePrintf("Uploading subblock starting at 0x%X ", offset);
        ConsoleFlush();
    }
    for (uint32_t k = 0; k < CProgramImage::kSubblockSize; k += kCellSize) {
        const uint8_t* cell = ReadCode(static_cast<uint16_t>(address + k), pageFlag != 0);
        if (cell == nullptr) {
            return false;
        }
        std::memcpy(image->readBack + offset + k, cell, kCellSize);
    }
    if (!check) {
        return true;
    }
    ConsolePrintf("Checking... ");
    ConsoleFlush();
    if (image->CompareBlock(static_cast<int32_t>(offset))) {
        ConsolePrintf("Ok.\n");
        return true;
    }
    ConsolePrintf("Failed!\n");
    ConsoleFlush();
    return false;
}

bool CPucDownloadProtocol::VerifyPuc() {
    if (image == nullptr) {
        return false;
    }
    image->WriteImageDump();
    if (transport->Open(static_cast<uint8_t>(nodeId)) != 0 || !DnlContSelection() ||
        !DnlInitialization()) {
        return false;
    }
    const bool matched = ForEachUsedSubblock(
        [this](uint16_t index) {
            const SubblockDescriptor& descriptor = image->subblocks[index];
            return UploadSubblock(descriptor.address, descriptor.page != 0 ? 1 : 0, true, true);
        },
        protocol::ProgressUnit::Bytes);
    // Leave the node running its application whatever the comparison gave.
    AbortDownload();
    JumpToApplication();
    FinalizeDownloading();
    image->WriteReadBackDump();
    return matched;
}

}  // namespace orv
