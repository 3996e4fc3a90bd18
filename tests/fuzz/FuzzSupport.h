#pragma once
// What the fuzz targets share: one way of cutting the input into the pieces a target needs, a
// clock that never waits, and a scratch directory for surfaces that read files.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "canlink/CanLink.h"
#include "transport/CcbMessage.h"
#include "transport/E2CCommAdapter.h"

namespace orv::fuzz {

// Hands the input out front to back. Reading past the end gives zeros and empty pieces, so a
// target never has to check before it takes.
class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Empty() const { return position_ >= size_; }
    size_t Remaining() const { return Empty() ? 0 : size_ - position_; }
    uint8_t Byte() { return Empty() ? 0 : data_[position_++]; }
    // Little-endian, the low byte taken first.
    uint16_t U16();
    uint32_t U32();
    // Up to count bytes (fewer at the end).
    std::string Bytes(size_t count);
    // A piece whose length (0..maxCount) comes from the input first.
    std::string Piece(size_t maxCount) { return Bytes(Byte() % (maxCount + 1)); }
    std::string Rest() { return Bytes(Remaining()); }
    // A gateway request as a client may send it: one of the commands, or any number, with
    // data of the length the input gives.
    void Request(CCcbMessage& request);

  private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

inline void Require(bool holds) {
    if (!holds)
        std::abort();
}
bool SameFrame(const CanFrame& a, const CanFrame& b);

// Feeds the rest of the input to a socketcand splitter in reads of up to 64 bytes, as a socket
// would deliver them, and hands on every message it yields.
void ForEachSocketcandMessage(FuzzInput& input,
                              const std::function<void(const std::string&)>& take);

// An Ethernet-to-CAN adapter whose bus answers every frame sent with the next bytes of the
// input, handed to the adapter's byte-stream receive path.
std::unique_ptr<CE2CCommAdapter> AdapterOnFuzzBus(FuzzInput& input);

// The adapter waits for a frame on its receive event in real time, and after a match it waits
// for the next arrival even with frames still queued; the node's reply time-out is held at 0
// so that an input's time stays bounded. Poll waits, 10 s longer, end on the clock instead.
void HoldReplyTimeoutAtZero(CCcbMessage& request);

// Sleeps return at once and every clock read lies far beyond the last, so each deadline has
// passed by the time it is checked and no wait for a reply lasts. Installed for the process.
void InstallFuzzClock();

// Writes a file of this name in a directory of the process's own, removed when the process
// ends, and gives its path.
std::string ScratchFile(const std::string& name, const std::string& content);

}  // namespace orv::fuzz
