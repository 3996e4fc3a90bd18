#include "os/Console.h"
#include "protocol/PucDownloadProtocol.h"
#include "protocol/RequestCatalogue.h"
#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace orv {

using namespace protocol;

namespace {
constexpr uint32_t kNoReply = 0xFFFFFFFF;
}  // namespace

CPucDownloadProtocol::CPucDownloadProtocol(CCommAdapter* transport, CProgramImage* image,
                                           uint32_t nodeId, uint32_t mode)
    : transport(transport), image(image), nodeId(nodeId), mode(mode) {
    if (image != nullptr && image->loaded == 0) {
        ConsolePrintf("Error: Bad program file\n");
        ConsoleFlush();
        valid = false;
    }
}

CPucDownloadProtocol::~CPucDownloadProtocol() = default;

int CPucDownloadProtocol::Exchange(uint32_t command, int capacity, uint32_t timeoutMs) {
    request.command = command;
    reply.status = kNoReply;
    return transport->Transact(&request, &reply, capacity, timeoutMs);
}

int CPucDownloadProtocol::ExchangeData(uint32_t command, const void* data, uint32_t count,
                                       int capacity, uint32_t timeoutMs) {
    request.SetData(data, count);
    return Exchange(command, capacity, timeoutMs);
}

bool CPucDownloadProtocol::ReplyOk() const {
    return reply.status == CCB_STATUS_OK;
}

bool CPucDownloadProtocol::Judge(const char* done, const char* failed) {
    const bool ok = ReplyOk();
    const char* message = ok ? done : failed;
    if (message != nullptr) {
        ConsolePrintf("%s", message);
        ConsoleFlush();
    }
    return ok;
}

bool CPucDownloadProtocol::Run(const Step& step) {
    const int result = step.data != nullptr ? ExchangeData(step.command, step.data, step.count,
                                                           step.capacity, step.timeoutMs)
                                            : Exchange(step.command, step.capacity, step.timeoutMs);
    if (step.checksTransport && result != 0) {
        return ReportTransportFailure();
    }
    return Judge(step.done, step.failed);
}

bool CPucDownloadProtocol::ReportTransportFailure() {
    ConsolePrintf("Error in TCP/IP communication\n");
    ConsoleFlush();
    return false;
}

bool CPucDownloadProtocol::SetNodeId(uint8_t node) {
    nodeId = node;
    return true;
}

bool CPucDownloadProtocol::IsValid() {
    return valid;
}

bool CPucDownloadProtocol::ResetTransport() {
    return transport->Reset() == 0;
}

bool CPucDownloadProtocol::AbortDownload() {
    return IsValid() && Run({.command = CCB_CMD_ABORT,
                             .timeoutMs = kAbortTimeoutMs,
                             .done = "Abort download DONE\n",
                             .failed = "Error: Abort download  FAILED\n"});
}

bool CPucDownloadProtocol::WriteEnable() {
    return IsValid() && Run({.command = CCB_CMD_WRITE_ENABLE,
                             .done = "Write enable DONE\n",
                             .failed = "Error: Write enable FAILED\n"});
}

bool CPucDownloadProtocol::ValidateDescriptors() {
    return IsValid() && Run({.command = CCB_CMD_VALIDATE,
                             .done = "Validating descriptors DONE\n",
                             .failed = "Error: Validating descriptors FAILED\n"});
}

bool CPucDownloadProtocol::ProgramSubblock() {
    if (!IsValid()) {
        return false;
    }
    // Programming takes a while; show what is going on before the reply arrives.
    ConsolePrintf("ProgramSubblock");
    ConsoleFlush();
    return Run({.command = CCB_CMD_PROGRAM_SUBBLOCK, .done = " DONE\n", .failed = " FAILED\n"});
}

bool CPucDownloadProtocol::FinalizeDownloading() {
    if (!IsValid() || !Run({.command = CCB_CMD_FINALIZE,
                            .done = "Finalize downloading DONE\n",
                            .failed = "Error: Finalize downloading FAILED\n"})) {
        return false;
    }
    ResetTransport();
    return true;
}

bool CPucDownloadProtocol::JumpToApplication() {
    return IsValid() && Run({.command = CCB_CMD_JUMP_TO_APP,
                             .done = "Jump to application DONE\n",
                             .failed = "Error: Jump to application FAILED\n"});
}

bool CPucDownloadProtocol::JumpToApplicationQuiet() {
    return IsValid() &&
           Run({.command = CCB_CMD_JUMP_TO_APP, .failed = "Error: Jump to application FAILED\n"});
}

bool CPucDownloadProtocol::IsStatusOK() {
    // Only the gateway's verdict counts here, not the node's status byte.
    return IsValid() && Run({.command = CCB_CMD_GET_STATUS,
                             .done = "IsStatusOK DONE\n",
                             .failed = "Error: IsStatusOK FAILED\n"});
}

bool CPucDownloadProtocol::QueryStatus() {
    return Run({.command = CCB_CMD_GET_STATUS,
                .capacity = kWithDataCapacity,
                .failed = "Error: Get status FAILED\n"});
}

bool CPucDownloadProtocol::GetStatus() {
    if (!IsValid() || !QueryStatus()) {
        return false;
    }
    ConsolePrintf("Status: ");
    ConsoleFlush();
    const uint8_t* data = reply.GetData();
    if (data == nullptr) {
        return false;
    }
    if (data[0] == 0) {
        ConsolePrintf("OK\n");
    } else {
        ConsolePrintf("Error: 0x%x\n", static_cast<unsigned>(data[0]));
    }
    ConsoleFlush();
    return data[0] == 0;
}

bool CPucDownloadProtocol::GetStatusCode(uint8_t* status) {
    if (!IsValid()) {
        return false;
    }
    const bool answered = QueryStatus();
    const uint8_t* data = reply.GetData();
    if (!answered || data == nullptr) {
        *status = 0xFF;
        return false;
    }
    if (data[0] == 0) {
        return true;
    }
    *status = data[0];
    return false;
}

bool CPucDownloadProtocol::GetStatusQuiet() {
    if (!IsValid() || !QueryStatus()) {
        return false;
    }
    const uint8_t* data = reply.GetData();
    return data != nullptr && data[0] == 0;
}

const uint8_t* CPucDownloadProtocol::QueryBootCodeInfo(bool quiet) {
    if (Exchange(CCB_CMD_GET_INFO, kWithDataCapacity, kShortTimeoutMs) != 0) {
        if (!quiet) {
            ReportTransportFailure();
        }
        return nullptr;
    }
    if (!quiet) {
        ConsoleFlush();
    }
    return ReplyOk() ? reply.GetData() : nullptr;
}

void CPucDownloadProtocol::StoreBootCodeVersion(const uint8_t* info) {
    for (size_t i = 0; i < 4; ++i) {
        const uint8_t c = info[1 + i];
        bootCodeVersion[i] = static_cast<char>(c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c);
    }
    bootCodeVersion[4] = '\0';
    if (bootCodeVersion[0] != 'V') {
        extendedInfoSupported = 1;
    }
}

const uint8_t* CPucDownloadProtocol::TakeBootCodeInfo(bool quiet) {
    if (!IsValid()) {
        return nullptr;
    }
    const uint8_t* info = QueryBootCodeInfo(quiet);
    if (info != nullptr) {
        StoreBootCodeVersion(info);
    }
    return info;
}

bool CPucDownloadProtocol::GetBootCodeInfo() {
    const uint8_t* info = TakeBootCodeInfo(false);
    if (info == nullptr) {
        return false;
    }
    ConsolePrintf("Boot code version: %s ", bootCodeVersion);
    ConsolePrintf("Application board hardware ID: 0x%0X\n", static_cast<unsigned>(info[7]));
    ConsoleFlush();
    return true;
}

bool CPucDownloadProtocol::GetBootCodeInfoQuiet() {
    return TakeBootCodeInfo(true) != nullptr;
}

const uint8_t* CPucDownloadProtocol::GetHardwareName() {
    if (!IsValid()) {
        return nullptr;
    }
    return QueryBootCodeInfo(false);
}

bool CPucDownloadProtocol::DnlContSelection() {
    if (!IsValid()) {
        return false;
    }
    // Every mode but the HT ones speaks the first boot protocol variant.
    const uint32_t command =
        (mode & ~uint32_t{MODE_HT_PDO}) != 0 ? CCB_CMD_SELECT_VARIANT_1 : CCB_CMD_SELECT_VARIANT_2;
    return Run({.command = command,
                .data = image != nullptr ? &image->bootParams : nullptr,
                .count = sizeof(BootInitParams),
                .checksTransport = true,
                .failed = "Dnl. CONT. SELECTION: FAILED\n"});
}

bool CPucDownloadProtocol::DnlInitialization() {
    if (!IsValid() || image == nullptr) {
        return false;
    }
    fileChecksum = image->bootParams.checksum;
    return Run({.command = CCB_CMD_BOOT_INIT,
                .data = &image->bootParams,
                .count = sizeof(BootInitParams),
                .timeoutMs = kBootInitTimeoutMs,
                .checksTransport = true,
                .done = "Dnl. initialization: DONE\n",
                .failed = "Dnl. initialization: FAILED\n"});
}

int CPucDownloadProtocol::SendNodeParameters(uint32_t command, uint8_t node,
                                             uint32_t replyTimeoutMs, uint32_t timeoutMs) {
    BootInitParams params;
    params.nodeId = node;
    params.replyTimeoutMs = replyTimeoutMs;
    return ExchangeData(command, &params, sizeof(params), kStatusOnlyCapacity, timeoutMs);
}

bool CPucDownloadProtocol::SelectBootNode(uint8_t node, int quiet) {
    if (!IsValid()) {
        return false;
    }
    // The configure status is never judged: the information request after it shows whether a
    // boot loader answers under the node.
    if (SendNodeParameters(CCB_CMD_CONFIGURE, node, kProbeReplyTimeoutMs, kConfigureTimeoutMs) !=
        0) {
        return ReportTransportFailure();
    }
    if (quiet != 0) {
        return GetBootCodeInfoQuiet();
    }
    if (!GetBootCodeInfo()) {
        ConsolePrintf(
            "PUC is not in BOOT code, or there is no connection with it\nCheck PUC or try other "
            "nodeID!\n");
        ConsoleFlush();
        return false;
    }
    return true;
}

}  // namespace orv
