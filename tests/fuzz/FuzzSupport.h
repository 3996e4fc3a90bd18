#pragma once
// What the fuzz targets share. Each target defines FuzzOne; the entry point around it silences
// the console and the simulator's log and installs a clock whose every deadline has passed, so
// that no wait for a reply lasts.
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "canlink/CanLink.h"
#include "transport/CcbMessage.h"
#include "transport/E2CCommAdapter.h"

namespace orv::fuzz {

// Hands the input out front to back; past the end come zeros and empty pieces.
class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Empty() const { return position_ >= size_; }
    size_t Remaining() const { return Empty() ? 0 : size_ - position_; }
    uint8_t Byte() { return Empty() ? 0 : data_[position_++]; }
    // Low byte first: the reads are sequenced, as the operands of | are not.
    uint16_t U16() {
        const uint8_t low = Byte();
        return static_cast<uint16_t>(low | Byte() << 8);
    }
    uint32_t U32() {
        const uint16_t low = U16();
        return low | static_cast<uint32_t>(U16()) << 16;
    }
    std::string Bytes(size_t count);
    // A piece whose length (0..maxCount) comes from the input first.
    std::string Piece(size_t maxCount) { return Bytes(Byte() % (maxCount + 1)); }
    std::string Rest() { return Bytes(Remaining()); }
    // A gateway request: one of the commands or any number, with data of the length given.
    void Request(CCcbMessage& request);

  private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

void FuzzOne(FuzzInput& input);

inline void Require(bool holds) {
    if (!holds)
        std::abort();
}
bool SameFrame(const CanFrame& a, const CanFrame& b);

// Feeds the rest of the input to a socketcand splitter in reads of up to 64 bytes, as from a
// socket, and hands on every message it yields.
void ForEachSocketcandMessage(FuzzInput& input,
                              const std::function<void(const std::string&)>& take);

// An Ethernet-to-CAN adapter whose bus answers every frame sent with more of the input.
std::unique_ptr<CE2CCommAdapter> AdapterOnFuzzBus(FuzzInput& input);

// The adapter waits for its receive event in real time: a reply time-out of 0 bounds an input.
void HoldReplyTimeoutAtZero(CCcbMessage& request);

// Writes a file in a directory of the process's own, removed at exit, and gives its path.
std::string ScratchFile(const std::string& name, const std::string& content);

}  // namespace orv::fuzz
