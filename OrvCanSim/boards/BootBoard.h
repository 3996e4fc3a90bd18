#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "OrvCanSim/boards/BoardConfig.h"
#include "OrvCanSim/boards/FlashMemory.h"
#include "OrvCanSim/boards/PucInfoBlock.h"
#include "OrvCanSim/boards/SubblockReceiver.h"
#include "canlink/CanLink.h"

namespace orv::sim {

// One board with a CAN boot loader, at frame level: it takes every frame of the bus and gives
// back the frames it answers with. A PUC speaks variant 1 (16-bit fields low byte first) and
// programs all sub-blocks at once; an HT board speaks variant 2 (high byte first, busy bits)
// and programs each sub-block on its own, or takes the raw frames of the download over PDO.
// sim/BOARDS.md describes every frame.
class BootBoard {
  public:
    static constexpr uint32_t kRequestBase = 0x200;
    static constexpr uint32_t kReplyBase = 0x180;
    // Sub-blocks below this address would overwrite the boot code and the information block.
    static constexpr uint32_t kPucBootAreaEnd = 0x4800;
    static constexpr int kErasePolls = 1;
    static constexpr int kProgramPolls = 2;

    // Throws std::runtime_error when the initial HEX file cannot be loaded.
    explicit BootBoard(const BoardConfig& config);

    std::vector<CanFrame> HandleFrame(const CanFrame& frame);

    const BoardConfig& Config() const { return config_; }
    const std::string& Name() const { return name_; }
    bool InBootLoader() const { return inBootLoader_; }
    // The node ID its boot loader answers under (once started).
    uint8_t BootNodeId() const { return bootNodeId_; }
    uint8_t Status() const { return status_; }
    const FlashMemory& Flash() const { return flash_; }

  private:
    struct Expected {
        uint32_t length = 0;
        uint16_t checksum = 0;
        uint16_t startAddress = 0;
    };

    bool IsPuc() const { return config_.kind == BoardKind::Puc; }
    bool KeepsExtendedInfo() const;
    uint32_t FlashAddress(uint8_t page, uint16_t address) const;
    CanFrame Answer(const std::array<uint8_t, 8>& bytes) const;

    void HandleNmt(uint8_t specifier, uint8_t node);
    void EnterBootLoader();
    void EnterApplication();
    void Dispatch(const CanFrame& frame, std::vector<CanFrame>& answers);
    void Report(uint8_t status);
    bool TakeWriteEnable();
    void InjectStatusError(uint32_t gatewayCode);
    void StartBusy(uint8_t bits, int polls);

    void ClearDownload();
    void Abort();
    void RawInit();
    void InitDownload(const CanFrame& frame);
    void InitPdoTotals(const CanFrame& frame);
    void StartSubblock(const CanFrame& frame);
    void AddSegment(const CanFrame& frame);
    void Program();
    void Validate();
    CanFrame Poll();
    CanFrame ReadFlash(const CanFrame& frame) const;
    CanFrame BootCodeInfo() const;
    void SetInfoBytes(const CanFrame& frame);
    void CommitInfoBlock();

    const BoardConfig config_;
    const std::string name_;
    FlashMemory flash_;

    bool inBootLoader_ = false;
    uint8_t bootNodeId_;
    uint8_t status_ = 0;
    uint8_t busyBits_ = 0;
    int busyPolls_ = 0;
    bool writeEnabled_ = false;
    bool initialised_ = false;
    bool pdoMode_ = false;
    Expected expected_;
    SubblockReceiver receiver_;
    // PUC: sub-blocks received and waiting for the one programming step, by flash address.
    std::map<uint32_t, std::vector<uint8_t>> staged_;
    // HT: what has been programmed since the download began.
    uint32_t programmedLength_ = 0;
    uint16_t programmedChecksum_ = 0;
    PucInfoBlock infoBlock_{flash_};
};

}  // namespace orv::sim
