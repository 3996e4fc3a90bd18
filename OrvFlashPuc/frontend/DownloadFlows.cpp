#include "frontend/DownloadFlows.h"

#include <cstdint>
#include "frontend/ExitCodes.h"
#include "frontend/FlashLog.h"
#include "frontend/HardwareIdentification.h"
#include "image/ProgramImage.h"
#include "os/Clock.h"
#include "os/Console.h"
#include "protocol/PucDownloadProtocol.h"

namespace orv {

namespace {

// The boot loader needs this long after an HT download before the board runs again.
constexpr uint32_t kHtSettleMs = 5000;

void AnnounceFlashing(const RunSettings& settings, int nodeId) {
    ConsolePrintf("Please wait... flashing\n");
    ConsolePrintf("BusId: %d NodeId: %d HexFileName: %s\n", settings.busId, nodeId,
                  settings.hexFileName);
    ConsoleFlush();
}

int FailDownload(CPucDownloadProtocol& protocol) {
    protocol.CancelDownload();
    ConsolePrintf("Download failed!");
    ConsoleFlush();
    return kExitFailure;
}

int SucceedDownload() {
    ConsolePrintf("Download successful!\n");
    ConsoleFlush();
    return kExitSuccess;
}

// Sends the application into its boot loader and finds the node ID it answers under there:
// the one typed, or the only other node in boot mode. -1 when there is none or more than one.
int FindBootModeNode(const RunSettings& settings, CCommAdapter& transport) {
    CPucDownloadProtocol search(&transport, nullptr, static_cast<uint32_t>(settings.nodeId),
                                static_cast<uint32_t>(settings.mode));
    ConsolePrintf("Please wait... going to BOOT mode\n");
    ConsolePrintf("BusId: %d NodeId: %d\n", settings.busId, settings.nodeId);
    ConsoleFlush();
    // Whether the application obeyed shows in the search, not in this result.
    search.GoToBootMode(static_cast<uint8_t>(settings.applNodeId));
    ConsolePrintf("Checking boot mode NodeId ... ");
    ConsoleFlush();
    const int found = search.FindBootNodeId(static_cast<uint8_t>(settings.nodeId));
    if (found == settings.nodeId) {
        ConsolePrintf("Accepted.\n");
        return found;
    }
    if (found < 0) {
        ConsolePrintf("Error searching for boot mode NodeId %d.\n", settings.nodeId);
        ConsoleFlush();
        return -1;
    }
    if (found >= 128) {
        // Two nodes already count as "more than 2".
        ConsolePrintf("More than 2 nodes in boot mode !\n");
        ConsoleFlush();
        return -1;
    }
    ConsolePrintf("New boot mode NodeId %d will be used !\n", found);
    return found;
}

}  // namespace

std::unique_ptr<CProgramImage> LoadImage(const RunSettings& settings, uint32_t mode,
                                         uint32_t baseAddress) {
    return std::make_unique<CProgramImage>(static_cast<uint8_t>(settings.busId),
                                           static_cast<uint8_t>(settings.nodeId),
                                           settings.hexFileName, mode, baseAddress);
}

int RunPucDownload(const RunSettings& settings, CCommAdapter& transport) {
    const std::unique_ptr<CProgramImage> image = LoadImage(settings, MODE_PUC, 0);
    if (!image->loaded)
        return kExitFailure;
    int nodeInUse = settings.nodeId;
    if (settings.applNodeId != 0) {
        nodeInUse = FindBootModeNode(settings, transport);
        if (nodeInUse < 0)
            return kExitFailure;
    }
    image->SetNodeId(static_cast<uint8_t>(nodeInUse));
    CPucDownloadProtocol protocol(&transport, image.get(), static_cast<uint32_t>(nodeInUse),
                                  static_cast<uint32_t>(settings.mode));
    AnnounceFlashing(settings, nodeInUse);
    // The application node ID typed served the search only; the boot loader keeps its own.
    if (!protocol.DownloadPuc(-1))
        return FailDownload(protocol);
    // A log that cannot be written does not undo a download that worked.
    CFlashLog("FLASH.LOG")
        .Append(image->foundFileName, image->bootParams.checksum, image->fileDate, image->loadDate,
                static_cast<uint8_t>(nodeInUse), image->fileVersion);
    return SucceedDownload();
}

int RunHtDownload(RunSettings& settings, CCommAdapter& transport) {
    uint32_t baseAddress = 0;
    if (settings.mode == MODE_HT_PDO && !IdentifyForDownload(settings, transport, baseAddress)) {
        return kExitFailure;
    }
    const std::unique_ptr<CProgramImage> image =
        LoadImage(settings, static_cast<uint32_t>(settings.mode), baseAddress);
    if (!image->loaded)
        return kExitFailure;
    CPucDownloadProtocol protocol(&transport, image.get(), static_cast<uint32_t>(settings.nodeId),
                                  static_cast<uint32_t>(settings.mode));
    AnnounceFlashing(settings, settings.nodeId);
    bool downloaded = false;
    if (settings.mode == MODE_HT) {
        downloaded = protocol.DownloadHt();
    } else {
        if (baseAddress != 0)
            image->FillBlockGaps();
        downloaded = protocol.DownloadHtPdo();
    }
    if (!downloaded)
        return FailDownload(protocol);
    if (settings.mode == MODE_HT_PDO) {
        protocol.GoToApplicationQuiet(static_cast<uint8_t>(settings.nodeId));
    }
    SleepMs(kHtSettleMs);
    return SucceedDownload();
}

}  // namespace orv
