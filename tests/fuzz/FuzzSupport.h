#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "os/Clock.h"
#include "transport/CcbMessage.h"

// What every fuzz target shares: one way of cutting the input into the pieces a target needs,
// a clock that never waits, and a scratch directory for surfaces that read files.
namespace orv::fuzz {

// Hands the input out front to back. Reading past the end gives zeros and empty pieces, so a
// target never has to check before it takes.
class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Empty() const { return position_ >= size_; }
    size_t Remaining() const { return Empty() ? 0 : size_ - position_; }
    uint8_t Byte();
    uint16_t U16();
    uint32_t U32();
    // Up to count bytes (fewer at the end).
    std::string Bytes(size_t count);
    // A piece whose length (0..maxCount) comes from the input first.
    std::string Piece(size_t maxCount);
    std::string Rest();
    // The rest cut at every separator: argv words, for instance.
    std::vector<std::string> Words(char separator);
    // A gateway request as a client may send it: one of the commands, or any number, with
    // data of the length the input gives.
    void Request(CCcbMessage& request);

  private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

// Sleeps return at once and every clock read lies far beyond the last, so each deadline has
// passed by the time it is checked and no wait for a reply lasts. Installed for the process.
class FuzzClock : public IClock {
  public:
    void SleepMs(uint32_t) override {}
    uint64_t NowMs() override { return now_ += uint64_t{1} << 33; }

  private:
    uint64_t now_ = 0;
};
void InstallFuzzClock();

// A file of this name in a directory of the process's own, removed when the process ends.
std::string ScratchPath(const std::string& name);
void WriteScratchFile(const std::string& path, const std::string& content);

}  // namespace orv::fuzz
