#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

#include "image/ProgramImage.h"
#include "protocol/ProgressDisplay.h"
#include "protocol/RequestCatalogue.h"
#include "transport/CcbMessage.h"
#include "transport/CommAdapter.h"

namespace orv {

// Client side of the PUC/HT boot loader. Every step is one gateway command handed to the
// transport; one object serves one command run. The operations are all virtual and call each
// other through the object, in this order, so that the table of operations stays fixed.
class CPucDownloadProtocol {
  public:
    CPucDownloadProtocol(CCommAdapter* transport, CProgramImage* image, uint32_t nodeId,
                         uint32_t mode);
    virtual ~CPucDownloadProtocol();
    CPucDownloadProtocol(const CPucDownloadProtocol&) = delete;
    CPucDownloadProtocol& operator=(const CPucDownloadProtocol&) = delete;

    virtual bool SetNodeId(uint8_t node);
    virtual bool DownloadPuc(int8_t applicationNodeId);
    virtual bool DownloadHt();
    virtual bool DownloadHtPdo();
    virtual bool ConnectForDownload();
    virtual bool VerifyPuc();
    virtual bool GoToBootMode(uint8_t node);
    virtual bool GoToBootModeQuiet(uint8_t node);
    virtual bool GetPucInfo(uint8_t node);
    virtual bool GoToApplication(uint8_t node);
    virtual bool GoToApplicationQuiet(uint8_t node);
    virtual bool ScanBootNodes();
    // The expected node when it answers; else -1 for none, or the answering IDs packed one per
    // byte, the most recent in the lowest byte.
    virtual int FindBootNodeId(uint8_t expectedNode);
    virtual bool SetBootNodeId(uint8_t newNodeId);
    virtual bool IsValid();
    virtual bool CancelDownload();
    // The 8 bytes of the boot code information reply, valid until the next request; or null.
    virtual const uint8_t* GetHardwareName();
    virtual bool ResetTransport();
    virtual bool UploadSubblock(uint16_t address, uint8_t pageFlag, bool print, bool check);
    virtual bool SelectBootNode(uint8_t node, int quiet);
    virtual bool FinalizeDownloading();
    virtual bool JumpToApplication();
    virtual bool JumpToApplicationQuiet();
    virtual bool SetInfoBlockByte(uint8_t value);
    virtual bool SendInfoBlockData();
    virtual bool DnlContSelection();
    virtual bool InitExtendedInfoUpdate(uint32_t node);
    virtual bool SetBytes(int flag, uint16_t address, int count, const uint8_t* bytes);
    virtual bool FlashExtInfoBlk();
    virtual bool PrintInfoBlock();
    virtual bool IsStatusOK();
    virtual bool SendSubblock();
    virtual bool SendSubblockPdo();
    virtual bool DnlInitialization();
    virtual bool DnlInitialization2(int step);
    virtual bool AbortDownload();
    virtual bool GetBootCodeInfo();
    virtual bool GetBootCodeInfoQuiet();
    virtual bool ProgramSubblock();
    virtual bool ValidateDescriptors();
    virtual bool WriteEnable();
    virtual bool GetStatus();
    virtual bool GetStatusCode(uint8_t* status);
    virtual bool GetStatusQuiet();
    virtual bool DebugController(uint16_t address, int page, int print, uint8_t* out);

    bool valid = true;
    CCcbMessage request;
    CCcbMessage reply;
    uint16_t currentSubblock = 0;
    CCommAdapter* transport;
    CProgramImage* image;
    uint32_t nodeId;
    uint32_t mode;
    uint8_t applNodeId = 0xFF;
    uint32_t extendedInfoSupported = 0;
    char bootCodeVersion[5] = {};
    uint16_t applicationFlag = 0;
    uint16_t chipChecksum = 0;
    uint16_t entryAddress = 0;
    uint16_t fileChecksum = 0;

  private:
    // Every gateway exchange: a request without new data resends the previous data, and the
    // reply status starts at -1 so that a reply that never arrived cannot read as success.
    int Exchange(uint32_t command, int capacity, uint32_t timeoutMs);
    int ExchangeData(uint32_t command, const void* data, uint32_t count, int capacity,
                     uint32_t timeoutMs);
    bool ReplyOk() const;
    // Prints `done` when the reply status is OK, else `failed`; either may be null.
    bool Judge(const char* done, const char* failed);
    static bool ReportTransportFailure();

    // One request and how its outcome is told. Without data the previous data travel again.
    // With checksTransport a failed exchange fails the step after the common line; otherwise
    // the status, left at -1, fails it.
    struct Step {
        uint32_t command;
        const void* data = nullptr;
        uint32_t count = 0;
        int capacity = protocol::kStatusOnlyCapacity;
        uint32_t timeoutMs = protocol::kShortTimeoutMs;
        bool checksTransport = false;
        const char* done = nullptr;
        const char* failed = nullptr;
    };
    // Sends the step's request and judges its reply: true when the status is OK.
    bool Run(const Step& step);

    // Command 207 with room for the status byte; false after the common failure line.
    bool QueryStatus();
    // Command 208; the reply data when the exchange succeeded, else null (reporting a failed
    // transport unless quiet).
    const uint8_t* QueryBootCodeInfo(bool quiet);
    void StoreBootCodeVersion(const uint8_t* info);
    // Command 208 on a valid object, keeping the boot code version; the reply data or null.
    const uint8_t* TakeBootCodeInfo(bool quiet);
    // The first version character decides what the boot code supports; it compares signed.
    int8_t BootCodeLead() const { return static_cast<int8_t>(bootCodeVersion[0]); }
    // Command 200 or 218 with download parameters built for the node.
    int SendNodeParameters(uint32_t command, uint8_t node, uint32_t replyTimeoutMs,
                           uint32_t timeoutMs);
    // Command 204: 8 bytes of controller memory, or null.
    const uint8_t* ReadCode(uint16_t address, bool highPage);

    // The descriptor of currentSubblock, or null without an image or with an index beyond it.
    const SubblockDescriptor* CurrentDescriptor() const;
    // One raw CAN frame to the node. The reply buffer starts cleared, since some transports
    // write nothing into it and stale bytes must not read as success.
    int SendFrame(uint8_t lengthCode, const uint8_t (&bytes)[8], uint8_t (&replyBytes)[12]);
    // Polls the status byte until it is 0, with up to ten retries a second apart.
    bool WaitForStatus();
    // Runs the step for each used sub-block in rising order; stops at the first failure. A
    // terminal shows how far it got, in sub-blocks or in bytes.
    bool ForEachUsedSubblock(const std::function<bool(uint16_t)>& step,
                             protocol::ProgressUnit unit = protocol::ProgressUnit::Subblocks);
    bool RunCompatibilityCheck();

    // One step of a paced download: the pause before it, then the operation. An announced
    // pause starts with the "sleeping..." line, followed by the note when there is one.
    struct PacedStep {
        uint32_t pauseMs;
        bool announced;
        bool (CPucDownloadProtocol::*operation)();
        const char* note = nullptr;
    };
    // Runs the steps in order; false at the first that fails.
    bool RunPaced(std::initializer_list<PacedStep> steps);
    // Command 207 whose outcome does not decide the download.
    bool GlanceAtStatus();
    bool TransferHtSubblocks();
    bool TransferHtSubblock(uint16_t index);
    bool TransferPdoSubblocks();
    bool TransferPdoSubblock();
    // The data of currentSubblock as raw segment frames, 1 ms apart; false at the first frame
    // that does not go out.
    bool SendPdoSegments(uint32_t declaredLength);

    bool WriteInfoText(uint16_t address, const char* text, size_t capacity);

    bool EnterBootMode(uint8_t node, bool quiet);
    bool LeaveForApplication(uint8_t node, bool quiet);
    // Opens the bus under the catch-all node 127, for steps that do not know the boot node yet.
    bool OpenWithoutBootNode();
    std::vector<uint8_t> ProbeBootNodes();
};

}  // namespace orv
