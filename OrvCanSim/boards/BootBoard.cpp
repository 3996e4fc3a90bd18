#include "OrvCanSim/boards/BootBoard.h"

#include <algorithm>
#include <stdexcept>

#include "OrvCanSim/boards/BootStatus.h"
#include "OrvCanSim/boards/IntelHexReader.h"
#include "OrvCanSim/bus/BootLoaderCodes.h"
#include "OrvCanSim/bus/SimLog.h"

namespace orv::sim {
namespace {

constexpr uint32_t kPucFlashSize = 0x20000;
constexpr uint32_t kHtFlashSize = 0x1000000;

bool IsSegment(uint8_t command) {
    return (command & 0xF0) == kFrameSegment;
}
bool IsSetBytes(uint8_t command) {
    return (command & 0xF0) == kFrameSetBytes;
}

uint16_t Le16(const CanFrame& frame, int at) {
    return static_cast<uint16_t>(frame.data[at] | frame.data[at + 1] << 8);
}

uint16_t Be16(const CanFrame& frame, int at) {
    return static_cast<uint16_t>(frame.data[at] << 8 | frame.data[at + 1]);
}

uint32_t Le32(const CanFrame& frame, int at) {
    return static_cast<uint32_t>(Le16(frame, at)) | static_cast<uint32_t>(Le16(frame, at + 2))
                                                        << 16;
}

// The gateway command whose execution puts this first byte on the bus; 0 for none.
uint32_t GatewayCodeOf(uint8_t command) {
    switch (command) {
        case kFrameInit:
            return CCB_CMD_BOOT_INIT;
        case kFrameSubblockHeader:
            return CCB_CMD_WRITE_SUBBLOCK;
        case kFrameAbort:
            return CCB_CMD_ABORT;
        case kFrameWriteEnable:
            return CCB_CMD_WRITE_ENABLE;
        case kFrameReadCode:
            return CCB_CMD_READ_CODE;
        case kFrameJumpToApp:
            return CCB_CMD_JUMP_TO_APP;
        case kFramePoll:
            return CCB_CMD_GET_STATUS;
        case kFrameGetInfo:
            return CCB_CMD_GET_INFO;
        case kFrameValidate:
            return CCB_CMD_VALIDATE;
        case kFrameProgram:
            return CCB_CMD_PROGRAM_SUBBLOCK;
        case kFrameFlashExtInfo:
            return CCB_CMD_SEND_DATA;
        case kFrameInitExtInfo:
            return CCB_CMD_INIT_EXT_INFO;
        default:
            return IsSetBytes(command) ? uint32_t{CCB_CMD_SEND_DATA} : 0U;
    }
}

// Bytes each command needs in its frame.
uint8_t RequiredLength(uint8_t command) {
    switch (command) {
        case kFrameInit:
        case kFramePdoChecksum:
        case kFrameSubblockHeader:
            return 8;
        case kFrameReadCode:
            return 5;
        case kFrameWriteEnable:
            return 2;
        default:
            return IsSetBytes(command) ? 3 + (command & 0x07) : 1;
    }
}

}  // namespace

BootBoard::BootBoard(const BoardConfig& config)
    : config_(config),
      name_(BoardName(config)),
      flash_(config.kind == BoardKind::Puc ? kPucFlashSize : kHtFlashSize),
      bootNodeId_(config.bootNodeId) {
    if (!config_.hexFile.empty()) {
        const std::string error = LoadIntelHex(config_.hexFile, flash_);
        if (!error.empty()) {
            throw std::runtime_error(name_ + ": " + error);
        }
    }
    if (config_.startInBootLoader) {
        EnterBootLoader();
    } else {
        SimLog("%s: application running", name_.c_str());
    }
}

bool BootBoard::KeepsExtendedInfo() const {
    return IsPuc() && static_cast<signed char>(config_.version[0]) >= '2';
}

uint32_t BootBoard::FlashAddress(uint8_t page, uint16_t address) const {
    if (IsPuc()) {
        return (page != 0 ? 0x10000U : 0U) + address;
    }
    return static_cast<uint32_t>(page) << 16 | address;
}

CanFrame BootBoard::Answer(const std::array<uint8_t, 8>& bytes) const {
    CanFrame frame;
    frame.id = kReplyBase | bootNodeId_;
    frame.length = 8;
    std::copy(bytes.begin(), bytes.end(), frame.data);
    return frame;
}

std::vector<CanFrame> BootBoard::HandleFrame(const CanFrame& frame) {
    std::vector<CanFrame> answers;
    if (frame.id == 0) {
        if (frame.length >= 2) {
            HandleNmt(frame.data[0], frame.data[1]);
        }
        return answers;
    }
    if (!inBootLoader_ || frame.id != (kRequestBase | bootNodeId_) || frame.length == 0) {
        return answers;
    }
    const uint8_t command = frame.data[0];
    const uint32_t code = GatewayCodeOf(command);
    if (code == CCB_CMD_GET_STATUS) {
        InjectStatusError(code);
        answers.push_back(Poll());
        return answers;
    }
    if (busyBits_ != 0) {
        Report(kStatusBusy);
        return answers;
    }
    if (frame.length < RequiredLength(command)) {
        Report(kStatusUnknownCommand);
        return answers;
    }
    Dispatch(frame, answers);
    InjectStatusError(code);
    return answers;
}

void BootBoard::Dispatch(const CanFrame& frame, std::vector<CanFrame>& answers) {
    const uint8_t command = frame.data[0];
    switch (command) {
        case kFrameAbort:
            if (frame.length == 1 && !IsPuc()) {
                RawInit();
            } else {
                Abort();
            }
            return;
        case kFrameInit:
        case kFramePdoChecksum:
            if (pdoMode_) {
                InitPdoTotals(frame);
            } else if (command == kFrameInit) {
                InitDownload(frame);
            } else {
                Report(kStatusUnknownCommand);
            }
            return;
        case kFrameSubblockHeader:
            StartSubblock(frame);
            return;
        case kFrameProgram:
            Program();
            return;
        case kFrameValidate:
            Validate();
            return;
        case kFrameReadCode:
            answers.push_back(ReadFlash(frame));
            return;
        case kFrameGetInfo:
            answers.push_back(BootCodeInfo());
            return;
        case kFrameJumpToApp:
            EnterApplication();
            return;
        case kFrameWriteEnable:
            if (frame.data[1] != kWriteEnableKey) {
                Report(kStatusUnknownCommand);
                return;
            }
            writeEnabled_ = true;
            return;
        case kFrameFlashExtInfo:
            CommitInfoBlock();
            return;
        case kFrameInitExtInfo:
            if (!KeepsExtendedInfo()) {
                Report(kStatusUnknownCommand);
                return;
            }
            infoBlock_.Reload();
            SimLog("%s: information block update begins", name_.c_str());
            return;
        default:
            if (IsSegment(command)) {
                AddSegment(frame);
            } else if (IsSetBytes(command)) {
                SetInfoBytes(frame);
            } else {
                Report(kStatusUnknownCommand);
            }
    }
}

// The first condition stays reported until an abort or a new download clears it: later ones
// are often just its consequences.
void BootBoard::Report(uint8_t status) {
    if (status == kStatusOk || status_ != kStatusOk) {
        return;
    }
    status_ = status;
    SimLog("%s: status 0x%02X (%s)", name_.c_str(), status, BootStatusText(status));
}

void BootBoard::InjectStatusError(uint32_t gatewayCode) {
    const auto found = config_.statusErrors.find(gatewayCode);
    if (found != config_.statusErrors.end()) {
        status_ = found->second;
        SimLog("%s: status 0x%02X after command %u, as the scenario asks", name_.c_str(), status_,
               gatewayCode);
    }
}

void BootBoard::StartBusy(uint8_t bits, int polls) {
    if (polls == 0 && !config_.stuckBusy) {
        return;
    }
    busyBits_ = bits;
    busyPolls_ = polls;
    SimLog("%s: busy %s", name_.c_str(), bits == kBusyErasing ? "erasing" : "programming");
}

void BootBoard::HandleNmt(uint8_t specifier, uint8_t node) {
    if (specifier == kNmtEnterBootLoader && !inBootLoader_ &&
        (node == 0 || node == config_.applNodeId)) {
        EnterBootLoader();
    }
}

void BootBoard::EnterBootLoader() {
    inBootLoader_ = true;
    status_ = kStatusOk;
    busyBits_ = 0;
    ClearDownload();
    bootNodeId_ =
        IsPuc() && infoBlock_.SoftCanId() != 0 ? infoBlock_.SoftCanId() : config_.bootNodeId;
    SimLog("%s: boot loader started as node %u", name_.c_str(), bootNodeId_);
}

void BootBoard::EnterApplication() {
    inBootLoader_ = false;
    ClearDownload();
    SimLog("%s: application started", name_.c_str());
}

void BootBoard::ClearDownload() {
    writeEnabled_ = false;
    initialised_ = false;
    pdoMode_ = false;
    expected_ = Expected{};
    receiver_.Reset();
    staged_.clear();
    programmedLength_ = 0;
    programmedChecksum_ = 0;
    infoBlock_.Reload();
}

void BootBoard::Abort() {
    ClearDownload();
    status_ = kStatusOk;
    SimLog("%s: download state cleared", name_.c_str());
}

void BootBoard::RawInit() {
    if (!initialised_) {
        Report(kStatusOutOfSequence);
        return;
    }
    pdoMode_ = true;
    receiver_.Reset();
    SimLog("%s: download over PDO begins", name_.c_str());
}

void BootBoard::InitDownload(const CanFrame& frame) {
    ClearDownload();
    status_ = kStatusOk;
    initialised_ = true;
    const uint8_t page = frame.data[1];
    const auto field = [&](int at) { return IsPuc() ? Le16(frame, at) : Be16(frame, at); };
    expected_.startAddress = field(2);
    expected_.length = field(4);
    expected_.checksum = field(6);
    SimLog("%s: download initialised: page %u, start 0x%04X, length 0x%04X, checksum 0x%04X",
           name_.c_str(), page, expected_.startAddress, expected_.length, expected_.checksum);
}

void BootBoard::InitPdoTotals(const CanFrame& frame) {
    if (frame.data[0] == kFrameInit) {
        expected_.startAddress = Le16(frame, 1);
        expected_.length = Le32(frame, 4);
        SimLog("%s: PDO download: start 0x%04X, %u bytes", name_.c_str(), expected_.startAddress,
               expected_.length);
        return;
    }
    if (Le32(frame, 4) != expected_.length) {
        Report(kStatusOutOfSequence);
        return;
    }
    expected_.checksum = Le16(frame, 2);
    SimLog("%s: PDO download: checksum 0x%04X", name_.c_str(), expected_.checksum);
}

void BootBoard::StartSubblock(const CanFrame& frame) {
    if (!initialised_) {
        Report(kStatusOutOfSequence);
        return;
    }
    if (receiver_.Receiving()) {
        Report(kStatusOutOfSequence);
    }
    uint8_t page = frame.data[1];
    uint16_t address = 0;
    uint16_t length = Le16(frame, 4);
    uint16_t checksum = Le16(frame, 6);
    if (IsPuc()) {
        address = Le16(frame, 2);
    } else if (pdoMode_) {
        address = Le16(frame, 1);
        page = frame.data[3];
    } else {
        address = Be16(frame, 2);
        length = Be16(frame, 4);
        checksum = Be16(frame, 6);
    }
    const uint32_t at = FlashAddress(page, address);
    const bool inRange = IsPuc() ? flash_.Contains(at, length) && at >= kPucBootAreaEnd
                                 : address + length <= FlashMemory::kPageSize;
    if (!inRange) {
        receiver_.Reset();
        Report(kStatusOutOfRange);
        return;
    }
    SimLog("%s: sub-block at 0x%06X, %u bytes, checksum 0x%04X", name_.c_str(), at, length,
           checksum);
    if (!IsPuc()) {
        flash_.Erase(at, length);
        if (!pdoMode_) {
            StartBusy(kBusyErasing, kErasePolls);
        }
    }
    Report(receiver_.Start(at, length, checksum));
}

void BootBoard::AddSegment(const CanFrame& frame) {
    const uint8_t result = receiver_.AddSegment(frame);
    Report(result);
    if (result != kStatusOk || !receiver_.Complete()) {
        return;
    }
    SimLog("%s: sub-block at 0x%06X received", name_.c_str(), receiver_.Address());
    if (IsPuc()) {
        staged_[receiver_.Address()] = receiver_.Data();
        receiver_.Reset();
    }
}

// A write enable serves one writing request; without one the request is refused.
bool BootBoard::TakeWriteEnable() {
    if (!writeEnabled_) {
        Report(kStatusNoWriteEnable);
        return false;
    }
    writeEnabled_ = false;
    return true;
}

void BootBoard::Program() {
    if (!initialised_ || (!IsPuc() && !receiver_.Complete())) {
        Report(kStatusOutOfSequence);
        return;
    }
    if (!TakeWriteEnable()) {
        return;
    }
    if (!IsPuc()) {
        const std::vector<uint8_t>& data = receiver_.Data();
        flash_.Write(receiver_.Address(), data.data(), data.size());
        programmedLength_ += static_cast<uint32_t>(data.size());
        programmedChecksum_ = static_cast<uint16_t>(programmedChecksum_ + receiver_.Checksum());
        SimLog("%s: sub-block at 0x%06X programmed", name_.c_str(), receiver_.Address());
        receiver_.Reset();
        StartBusy(kBusyProgramming, kProgramPolls);
        return;
    }
    uint32_t length = 0;
    uint16_t checksum = 0;
    for (const auto& [at, data] : staged_) {
        flash_.Write(at, data.data(), data.size());
        length += static_cast<uint32_t>(data.size());
        checksum = static_cast<uint16_t>(checksum + Sum16(data));
    }
    const bool valid =
        (length & 0xFFFF) == (expected_.length & 0xFFFF) && checksum == expected_.checksum;
    infoBlock_.StageApplication(valid, checksum, expected_.startAddress);
    infoBlock_.Commit();
    SimLog("%s: %zu sub-blocks programmed, application %s", name_.c_str(), staged_.size(),
           valid ? "valid" : "NOT valid");
    staged_.clear();
    if (!valid) {
        Report(kStatusChecksumMismatch);
    }
    StartBusy(kBusyProgramming, 0);
}

void BootBoard::Validate() {
    if (IsPuc()) {
        SimLog("%s: client/firmware compatibility confirmed", name_.c_str());
        return;
    }
    if (!initialised_) {
        Report(kStatusOutOfSequence);
        return;
    }
    if (!TakeWriteEnable()) {
        return;
    }
    const bool valid = (programmedLength_ & 0xFFFF) == (expected_.length & 0xFFFF) &&
                       programmedChecksum_ == expected_.checksum;
    SimLog("%s: descriptors %s", name_.c_str(), valid ? "valid" : "NOT valid");
    if (!valid) {
        Report(kStatusChecksumMismatch);
    }
}

CanFrame BootBoard::Poll() {
    std::array<uint8_t, 8> bytes{};
    bytes[0] = busyBits_ != 0 ? kStatusBusy : status_;
    bytes[1] = busyBits_;
    if (busyBits_ != 0 && !config_.stuckBusy && --busyPolls_ <= 0) {
        busyBits_ = 0;
        SimLog("%s: ready", name_.c_str());
    }
    return Answer(bytes);
}

CanFrame BootBoard::ReadFlash(const CanFrame& frame) const {
    const uint32_t at = FlashAddress(frame.data[4], Le16(frame, 2));
    std::array<uint8_t, 8> bytes{};
    for (uint32_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = flash_.Read(at + i);
    }
    return Answer(bytes);
}

CanFrame BootBoard::BootCodeInfo() const {
    std::array<uint8_t, 8> bytes{};
    if (!IsPuc() && !config_.ident.empty()) {
        std::copy(config_.ident.begin(), config_.ident.end(), bytes.begin());
    } else {
        std::copy(config_.version.begin(), config_.version.end(), bytes.begin() + 1);
        bytes[7] = config_.hardwareId;
    }
    return Answer(bytes);
}

void BootBoard::SetInfoBytes(const CanFrame& frame) {
    const uint8_t count = frame.data[0] & 0x07;
    if (!KeepsExtendedInfo() || count < 1 || count > 5) {
        Report(kStatusUnknownCommand);
        return;
    }
    const uint16_t address = Le16(frame, 1);
    if (!infoBlock_.Stage(address, frame.data + 3, count)) {
        Report(kStatusOutOfRange);
        return;
    }
    SimLog("%s: information block 0x%04X: %u bytes to write", name_.c_str(), address, count);
}

void BootBoard::CommitInfoBlock() {
    if (!KeepsExtendedInfo()) {
        Report(kStatusUnknownCommand);
        return;
    }
    if (!TakeWriteEnable()) {
        return;
    }
    infoBlock_.Commit();
    SimLog("%s: information block written, soft CAN ID 0x%02X", name_.c_str(),
           flash_.Read(PucInfoBlock::kSoftCanIdAddress));
}

}  // namespace orv::sim
