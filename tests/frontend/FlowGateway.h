#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "transport/CommAdapter.h"

namespace orv::test {

// A gateway board with the boot loaders of a few boards behind it, as far as the command flows
// can tell: which node is selected, who answers in boot mode, and an erased flash. Every call
// returns at once.
class FlowGateway : public CCommAdapter {
  public:
    struct Board {
        uint8_t applicationNode;
        uint8_t bootNode;
        bool inBoot;
        std::array<uint8_t, 8> bootCodeInfo;
    };

    // Boot code information of a PUC with boot code version 3100.
    static std::array<uint8_t, 8> PucInfo() { return {0, '3', '1', '0', '0', 0, 0, 0x21}; }
    // Boot code information that reads as the identification text.
    static std::array<uint8_t, 8> HtInfo(const std::string& identification) {
        std::array<uint8_t, 8> info{};
        std::copy_n(identification.begin(), std::min<size_t>(identification.size(), 8),
                    info.begin());
        return info;
    }

    void AddBoard(const Board& board) { boards_.push_back(board); }
    // From now on this command is answered with "no reply".
    void Refuse(uint32_t command) { refused_.insert(command); }
    const std::vector<uint32_t>& Commands() const { return commands_; }
    size_t Count(uint32_t command) const;
    // First bytes of every raw frame sent.
    const std::vector<uint8_t>& RawFrameHeads() const { return rawFrameHeads_; }

    int Open(uint8_t /*nodeId*/) override { return 0; }
    int SendRaw(const void* request, int requestLength, void* reply, int replyCapacity,
                uint32_t timeoutMs) override;
    int Transact(const CCcbMessage* request, CCcbMessage* reply, int replyCapacity,
                 uint32_t timeoutMs) override;
    int Reset() override { return 0; }

  private:
    // The board that answers as the selected node in this mode.
    Board* Selected(bool inBoot);
    uint32_t Carry(const CCcbMessage& request, CCcbMessage& reply);

    std::vector<Board> boards_;
    std::set<uint32_t> refused_;
    std::vector<uint32_t> commands_;
    std::vector<uint8_t> rawFrameHeads_;
    uint8_t selected_ = 0;
};

// Runs the test in a directory of its own, where FLASH.LOG lands.
class ScopedWorkDir {
  public:
    explicit ScopedWorkDir(const std::string& path);
    ~ScopedWorkDir();
    ScopedWorkDir(const ScopedWorkDir&) = delete;
    ScopedWorkDir& operator=(const ScopedWorkDir&) = delete;

  private:
    std::string previous_;
};

}  // namespace orv::test
