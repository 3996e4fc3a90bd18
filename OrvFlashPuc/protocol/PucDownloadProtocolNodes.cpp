#include "os/Console.h"
#include "protocol/PucDownloadProtocol.h"
#include "protocol/RequestCatalogue.h"
#include "transport/GatewayCodes.h"

namespace orv {

using namespace protocol;

namespace {
// The node given to Open while the boot node is not known yet.
constexpr uint8_t kAnyNode = 127;
constexpr uint8_t kFirstProbedNode = 2;
constexpr uint8_t kLastProbedNode = 127;
}  // namespace

bool CPucDownloadProtocol::EnterBootMode(uint8_t node, bool quiet) {
    if (transport->Open(node) != 0 || !DnlContSelection() || !IsValid()) {
        return false;
    }
    // The application's answer is not judged: the boot code information request after it shows
    // whether the node came up in its boot loader.
    if (SendNodeParameters(CCB_CMD_BOOT_INIT, node, kEnterBootReplyTimeoutMs,
                           kEnterBootTimeoutMs) != 0) {
        return ReportTransportFailure();
    }
    if (!(quiet ? GetBootCodeInfoQuiet() : GetBootCodeInfo())) {
        ConsolePrintf("It is possible that this PUC uses different CAN node ID in BOOT mode!\n");
        ConsoleFlush();
        return false;
    }
    return quiet ? GetStatusQuiet() : GetStatus();
}

bool CPucDownloadProtocol::GoToBootMode(uint8_t node) {
    return EnterBootMode(node, false);
}

bool CPucDownloadProtocol::GoToBootModeQuiet(uint8_t node) {
    return EnterBootMode(node, true);
}

bool CPucDownloadProtocol::OpenWithoutBootNode() {
    return transport->Open(kAnyNode) == 0 && DnlContSelection();
}

bool CPucDownloadProtocol::GetPucInfo(uint8_t node) {
    if (!OpenWithoutBootNode() || !SelectBootNode(node, 0)) {
        return false;
    }
    ConsolePrintf("Going to boot mode (for PUC) OK\n");
    ConsoleFlush();
    if (!PrintInfoBlock()) {
        ConsolePrintf("Can not get BOOT code info\n");
        ConsoleFlush();
        return false;
    }
    return true;
}

bool CPucDownloadProtocol::LeaveForApplication(uint8_t node, bool quiet) {
    if (transport->Open(node) != 0 || !DnlContSelection() || !SelectBootNode(node, quiet ? 1 : 0)) {
        return false;
    }
    return quiet ? JumpToApplicationQuiet() : JumpToApplication();
}

bool CPucDownloadProtocol::GoToApplication(uint8_t node) {
    return LeaveForApplication(node, false);
}

bool CPucDownloadProtocol::GoToApplicationQuiet(uint8_t node) {
    return LeaveForApplication(node, true);
}

std::vector<uint8_t> CPucDownloadProtocol::ProbeBootNodes() {
    std::vector<uint8_t> found;
    for (unsigned node = kFirstProbedNode; node <= kLastProbedNode; ++node) {
        ProgressPrintf("asking node %u of %u", node, kLastProbedNode);
        if (SelectBootNode(static_cast<uint8_t>(node), 1)) {
            found.push_back(static_cast<uint8_t>(node));
        }
    }
    ProgressClear();
    return found;
}

bool CPucDownloadProtocol::ScanBootNodes() {
    if (!OpenWithoutBootNode()) {
        return false;
    }
    const std::vector<uint8_t> found = ProbeBootNodes();
    ConsolePrintf("-------------------------------------------------------------------------\n");
    ConsolePrintf("Detected nodes in BOOT mode:\n");
    if (found.empty()) {
        ConsolePrintf("None");
    }
    for (uint8_t node : found) {
        ConsolePrintf("0x%X ", static_cast<unsigned>(node));
    }
    ConsolePrintf("\n");
    ConsoleFlush();
    ResetTransport();
    return true;
}

int CPucDownloadProtocol::FindBootNodeId(uint8_t expectedNode) {
    if (!OpenWithoutBootNode()) {
        return -1;
    }
    if (SelectBootNode(expectedNode, 1)) {
        return expectedNode;
    }
    const std::vector<uint8_t> found = ProbeBootNodes();
    ResetTransport();
    if (found.empty()) {
        return -1;
    }
    // Keeps the last four answering IDs, the most recent in the lowest byte.
    uint32_t packed = 0;
    for (uint8_t node : found) {
        packed = packed << 8 | node;
    }
    return static_cast<int>(packed);
}

}  // namespace orv
