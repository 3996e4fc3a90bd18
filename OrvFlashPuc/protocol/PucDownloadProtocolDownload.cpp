#include <algorithm>
#include <cstring>

#include "os/Clock.h"
#include "os/Console.h"
#include "protocol/ProgressDisplay.h"
#include "protocol/PucDownloadProtocol.h"
#include "protocol/RequestCatalogue.h"
#include "protocol/ToolIdentity.h"
#include "transport/BootLoaderFrames.h"
#include "transport/GatewayCodes.h"

namespace orv {

using namespace protocol;

namespace {
constexpr uint16_t kRawRequestBase = 0x0200;
constexpr uint32_t kStatusRetries = 10;
// Fixed delays that give the boot loader time to erase and program flash.
constexpr uint32_t kProgramWaitMs = 12000;
constexpr uint32_t kHtLongWaitEvery = 5;

using P = CPucDownloadProtocol;
constexpr bool kAnnounced = true;
constexpr bool kQuiet = false;

void PrintSleeping() {
    ConsolePrintf("sleeping...\n");
    ConsoleFlush();
}

void PutLe32(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}
}  // namespace

bool CPucDownloadProtocol::ForEachUsedSubblock(const std::function<bool(uint16_t)>& step,
                                               ProgressUnit unit) {
    uint32_t used = 0;
    for (uint16_t i = 0; i < CProgramImage::kSubblockCount; ++i) {
        used += image->IsBlockUsed(i) ? 1 : 0;
    }
    const SubblockProgress progress(used, unit);
    uint32_t done = 0;
    for (uint16_t i = 0; i < CProgramImage::kSubblockCount; ++i) {
        if (!image->IsBlockUsed(i)) {
            continue;
        }
        progress.Show(done++);
        if (!step(i)) {
            return false;
        }
    }
    return true;
}

const SubblockDescriptor* CPucDownloadProtocol::CurrentDescriptor() const {
    if (image == nullptr || currentSubblock >= CProgramImage::kSubblockCount) {
        return nullptr;
    }
    return &image->subblocks[currentSubblock];
}

bool CPucDownloadProtocol::SendSubblock() {
    if (!IsValid()) {
        return false;
    }
    const SubblockDescriptor* descriptor = CurrentDescriptor();
    if (descriptor == nullptr) {
        return false;
    }
    request.SetData(descriptor, sizeof(SubblockDescriptor));
    request.AppendData(image->data + currentSubblock * CProgramImage::kSubblockSize,
                       CProgramImage::kSubblockSize);
    const uint32_t shownAddress = descriptor->address + (descriptor->page != 0 ? 0x10000u : 0u);
    ConsolePrintf("Subblock starting at 0x%X ... ", shownAddress);
    ConsoleFlush();
    return Run({.command = CCB_CMD_WRITE_SUBBLOCK,
                .timeoutMs = kSubblockTimeoutMs,
                .checksTransport = true,
                .done = "SENT\n",
                .failed = "FAILED\n"});
}

int CPucDownloadProtocol::SendFrame(uint8_t lengthCode, const uint8_t (&bytes)[8],
                                    uint8_t (&replyBytes)[12]) {
    CanFrameRequest frame;
    frame.nodeId = static_cast<uint8_t>(nodeId);
    frame.baseId = kRawRequestBase;
    frame.dataLengthCode = lengthCode;
    std::memcpy(frame.data, bytes, sizeof(frame.data));
    std::memset(replyBytes, 0, sizeof(replyBytes));
    return transport->SendRaw(&frame, sizeof(frame), replyBytes, kRawReplySize, kRawFrameTimeoutMs);
}

bool CPucDownloadProtocol::SendPdoSegments(uint32_t declaredLength) {
    const uint32_t start = currentSubblock * CProgramImage::kSubblockSize;
    // A descriptor longer than the rest of the image cannot send more than the image holds.
    const uint32_t length = std::min<uint32_t>(declaredLength, CProgramImage::kImageSize - start);
    uint8_t replyBytes[kRawReplySize];
    uint8_t toggle = 0;
    for (uint32_t done = 0; done < length; done += kSegmentDataBytes) {
        const uint32_t count = std::min(kSegmentDataBytes, length - done);
        uint8_t frame[8];
        std::memset(frame, 0xFF, sizeof(frame));
        frame[0] = SegmentHeader(toggle, count);
        std::memcpy(frame + 1, image->data + start + done, count);
        if (SendFrame(8, frame, replyBytes) != 0) {
            return false;
        }
        SleepMs(1);
        toggle ^= kSegmentToggle;
    }
    return true;
}

bool CPucDownloadProtocol::SendSubblockPdo() {
    if (!IsValid()) {
        return false;
    }
    const SubblockDescriptor* descriptor = CurrentDescriptor();
    if (descriptor == nullptr) {
        return false;
    }
    ConsolePrintf("Subblock starting at 0x%X ... ",
                  descriptor->page * 0x10000u + descriptor->address);
    ConsoleFlush();
    const auto failed = [] {
        ConsolePrintf("FAILED\n");
        ConsoleFlush();
        return false;
    };
    uint8_t replyBytes[kRawReplySize];
    const uint8_t first[8] = {ToByte(BootFrame::SubblockHeader),
                              static_cast<uint8_t>(descriptor->address & 0xFF),
                              static_cast<uint8_t>(descriptor->address >> 8),
                              descriptor->page,
                              static_cast<uint8_t>(descriptor->length & 0xFF),
                              static_cast<uint8_t>(descriptor->length >> 8),
                              static_cast<uint8_t>(descriptor->checksum & 0xFF),
                              static_cast<uint8_t>(descriptor->checksum >> 8)};
    if (SendFrame(8, first, replyBytes) != 0) {
        return failed();
    }
    SleepMs(10);
    if (!SendPdoSegments(descriptor->length)) {
        return failed();
    }
    ConsolePrintf("SENT\n");
    ConsoleFlush();
    return true;
}

bool CPucDownloadProtocol::DnlInitialization2(int step) {
    if (!IsValid() || image == nullptr) {
        return false;
    }
    const BootInitParams& params = image->bootParams;
    uint8_t bytes[8] = {};
    uint8_t lengthCode = 8;
    switch (step) {
        case 2:
            lengthCode = 1;
            bytes[0] = 0xFF;
            break;
        case 3:
            bytes[1] = static_cast<uint8_t>(params.startAddress & 0xFF);
            bytes[2] = static_cast<uint8_t>(params.startAddress >> 8);
            PutLe32(bytes + 4, image->totalUsedBytes);
            break;
        case 4:
            bytes[0] = 0x01;
            bytes[2] = static_cast<uint8_t>(params.checksum & 0xFF);
            bytes[3] = static_cast<uint8_t>(params.checksum >> 8);
            PutLe32(bytes + 4, image->totalUsedBytes);
            break;
        default:
            return true;
    }
    uint8_t replyBytes[kRawReplySize];
    if (SendFrame(lengthCode, bytes, replyBytes) != 0) {
        return ReportTransportFailure();
    }
    if (step != 2) {
        return true;
    }
    uint32_t status = 0;
    std::memcpy(&status, replyBytes + 8, sizeof(status));
    const bool ok = status == CCB_STATUS_OK;
    ConsolePrintf("%s", ok ? "Dnl. initialization 2: DONE\n" : "Dnl. initialization 2: FAILED\n");
    ConsoleFlush();
    return ok;
}

bool CPucDownloadProtocol::WaitForStatus() {
    uint8_t status = 0;
    if (GetStatusCode(&status)) {
        return true;
    }
    for (uint32_t retry = 0; retry < kStatusRetries; ++retry) {
        SleepMs(1000);
        if (GetStatusCode(&status)) {
            ConsolePrintf("Status: OK\n");
            ConsoleFlush();
            return true;
        }
    }
    ConsolePrintf("Status: Error 0x%x\n", static_cast<unsigned>(status));
    ConsoleFlush();
    return false;
}

bool CPucDownloadProtocol::ConnectForDownload() {
    if (transport->Open(static_cast<uint8_t>(nodeId)) != 0 || !DnlContSelection()) {
        return false;
    }
    PrintSleeping();
    SleepMs(2000);
    return true;
}

bool CPucDownloadProtocol::CancelDownload() {
    GetStatus();
    AbortDownload();
    return FinalizeDownloading();
}

bool CPucDownloadProtocol::RunCompatibilityCheck() {
    ConsolePrintf("%s %s: BOOT-code compatibility validation.\n", kPlatformName, kToolVersion);
    ConsoleFlush();
    if (!IsValid()) {
        return false;
    }
    // Only boot codes numbered from 3 on (the 'V' line excepted) can check the client.
    if (bootCodeVersion[0] == 'V' || BootCodeLead() < '3') {
        return true;
    }
    ConsolePrintf(
        "This version of the BOOT-code supports a client/firmware compatibility check.\n");
    ConsoleFlush();
    return Run({.command = CCB_CMD_VALIDATE,
                .done = "BOOT-code compatibility validation DONE.\n",
                .failed = "Error: BOOT-code compatibility validation FAILED.\n"});
}

bool CPucDownloadProtocol::DownloadPuc(int8_t applicationNodeId) {
    applNodeId = static_cast<uint8_t>(applicationNodeId);
    extendedInfoSupported = 0;
    if (transport->Open(static_cast<uint8_t>(nodeId)) != 0 || !DnlContSelection() ||
        !DnlInitialization() || !GetStatus() || !GetBootCodeInfo()) {
        return false;
    }
    PrintInfoBlock();
    if (chipChecksum == fileChecksum) {
        ConsolePrintf(
            "The application being flashed has the same CS as the application in chip.\n");
        ConsoleFlush();
    }
    if (!GetStatus() || !RunCompatibilityCheck()) {
        return false;
    }
    // Every sub-block is transferred first and programmed by one request at the end.
    const bool sent = ForEachUsedSubblock([this](uint16_t index) {
        currentSubblock = index;
        return SendSubblock() && GetStatus();
    });
    if (!sent) {
        return false;
    }
    if (extendedInfoSupported != 0) {
        SendInfoBlockData();
    }
    if (!WriteEnable() || (extendedInfoSupported != 0 && !GetStatus()) || !ProgramSubblock()) {
        return false;
    }
    SleepCountingDown(kProgramWaitMs, "programming");
    return RunPaced({{0, kQuiet, &P::GetStatus},
                     {0, kQuiet, &P::JumpToApplication},
                     {1000, kAnnounced, &P::FinalizeDownloading}});
}

bool CPucDownloadProtocol::RunPaced(std::initializer_list<PacedStep> steps) {
    for (const PacedStep& step : steps) {
        if (step.announced) {
            PrintSleeping();
        }
        if (step.note != nullptr) {
            ConsolePrintf("%s", step.note);
            ConsoleFlush();
        }
        if (step.pauseMs > 0) {
            SleepMs(step.pauseMs);
        }
        if (!(this->*step.operation)()) {
            return false;
        }
    }
    return true;
}

bool CPucDownloadProtocol::GlanceAtStatus() {
    GetStatus();
    return true;
}

bool CPucDownloadProtocol::TransferHtSubblocks() {
    return ForEachUsedSubblock([this](uint16_t index) { return TransferHtSubblock(index); });
}

bool CPucDownloadProtocol::TransferHtSubblock(uint16_t index) {
    currentSubblock = index;
    const bool longWait = index % kHtLongWaitEvery == 0;
    if (!RunPaced({{0, kQuiet, &P::WriteEnable},
                   {100, kAnnounced, &P::SendSubblock},
                   {100, kAnnounced, &P::GetStatus},
                   {0, kAnnounced, &P::WriteEnable},
                   {longWait ? 2000u : 1000u, kAnnounced, &P::ProgramSubblock,
                    longWait ? "sleeping long\n" : nullptr}})) {
        return false;
    }
    PrintSleeping();
    return true;
}

bool CPucDownloadProtocol::DownloadHt() {
    if (transport->Open(static_cast<uint8_t>(nodeId)) != 0) {
        return false;
    }
    return RunPaced({{0, kQuiet, &P::DnlContSelection},
                     {2000, kAnnounced, &P::DnlInitialization},
                     {100, kAnnounced, &P::GlanceAtStatus},
                     {100, kAnnounced, &P::TransferHtSubblocks},
                     {1000, kAnnounced, &P::GetStatus},
                     {1000, kAnnounced, &P::WriteEnable},
                     {1000, kAnnounced, &P::ValidateDescriptors},
                     {1000, kQuiet, &P::GetStatus},
                     {0, kQuiet, &P::JumpToApplication},
                     {1000, kAnnounced, &P::FinalizeDownloading}});
}

bool CPucDownloadProtocol::TransferPdoSubblock() {
    if (!SendSubblockPdo()) {
        return false;
    }
    SleepMs(10);
    return WaitForStatus() && WriteEnable() && ProgramSubblock() && WaitForStatus();
}

bool CPucDownloadProtocol::TransferPdoSubblocks() {
    return ForEachUsedSubblock([this](uint16_t index) {
        currentSubblock = index;
        return TransferPdoSubblock();
    });
}

bool CPucDownloadProtocol::DownloadHtPdo() {
    if (!DnlInitialization()) {
        return false;
    }
    // Only the status wait after them tells whether the node took the raw initialisation.
    DnlInitialization2(2);
    DnlInitialization2(3);
    DnlInitialization2(4);
    return RunPaced({{0, kQuiet, &P::WaitForStatus},
                     {100, kAnnounced, &P::WriteEnable},
                     {0, kQuiet, &P::TransferPdoSubblocks},
                     {0, kQuiet, &P::WriteEnable},
                     {1, kQuiet, &P::ValidateDescriptors},
                     {1000, kQuiet, &P::WaitForStatus},
                     {5000, kQuiet, &P::JumpToApplication},
                     {1000, kQuiet, &P::FinalizeDownloading}});
}

}  // namespace orv
