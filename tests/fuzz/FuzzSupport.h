#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "os/Clock.h"
#include "transport/CcbMessage.h"
#include "transport/E2CCommAdapter.h"

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
    std::string Rest() { return Bytes(Remaining()); }
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

// Feeds the rest of the input to a socketcand splitter in reads of up to 64 bytes, as a socket
// would deliver them, and hands on every message it yields.
void ForEachSocketcandMessage(FuzzInput& input,
                              const std::function<void(const std::string&)>& take);

// A CAN engine under an Ethernet-to-CAN adapter whose bus answers every frame sent with the next
// bytes of the input, handed to the adapter's byte-stream receive path.
class FuzzEngine : public CanOpenLibrary::ICanOpenEngine {
  public:
    explicit FuzzEngine(FuzzInput& input) : input_(input) {}

    int Connect(TylCommunicationLibraryNG::ICommConnector*, const std::wstring&,
                const std::wstring&) override {
        return 0;
    }
    void Disconnect() override {}
    void Join() override {}
    int Start() override { return 0; }
    void Stop() override {}
    int Attach(std::unique_ptr<orv::ICanLink>) override { return 0; }
    std::string LastError() const override { return {}; }
    bool IsRunning() const override { return true; }
    int SendNmt(const uint8_t*, const uint8_t*, uint8_t*) override { return Answer(); }
    int SendCanFrame(const uint16_t*, const uint8_t*, const uint8_t*, uint8_t*) override {
        return Answer();
    }
    CanOpenLibrary::EngineCounters Counters() const override { return {}; }
    int SetNodeState(const uint8_t*, const uint32_t*) override { return 0; }

    CE2CCommAdapter* adapter = nullptr;

  private:
    int Answer();

    FuzzInput& input_;
};

// The adapter waits for a frame on its receive event in real time, and after a match it waits
// for the next arrival even with frames still queued; the node's reply time-out is held at 0
// so that an input's time stays bounded. Poll waits, 10 s longer, end on the clock instead.
void HoldReplyTimeoutAtZero(CCcbMessage& request);

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

// Writes a file of this name in a directory of the process's own, removed when the process
// ends, and gives its path.
std::string ScratchFile(const std::string& name, const std::string& content);

}  // namespace orv::fuzz
