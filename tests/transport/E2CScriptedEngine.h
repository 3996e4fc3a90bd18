#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/CanOpenEngine.h"
#include "support/FakeClock.h"

namespace orv::test {

using Bytes8 = std::array<uint8_t, 8>;

// Everything an adapter did, in order: "nmt 96 12", "frame 212 ff 00 00 00 00 00 00 00",
// "sleep 2000"; a frame whose send failed ends in " failed".
using EventLog = std::vector<std::string>;

// A clock that also writes each pause into the log, so pauses are checked in sequence.
class LoggingClock : public FakeClock {
  public:
    explicit LoggingClock(EventLog& log) : log_(log) {}
    void SleepMs(uint32_t ms) override;

  private:
    EventLog& log_;
};

// An engine that records what is sent and answers from a script, on the caller's thread.
class ScriptedEngine : public CanOpenLibrary::ICanOpenEngine {
  public:
    struct Reply {
        Bytes8 data;
        uint16_t id = 0;  // 0: the sender's node ID OR 0x180
    };

    explicit ScriptedEngine(EventLog& log) : log_(log) {}

    // The next frame sent whose first byte is trigger is answered with these frames (none: the
    // node stays silent that once). Without a queued answer the node stays silent.
    void On(uint8_t trigger, std::vector<Reply> replies);
    // Every frame send from the given one on (1 = the first) fails.
    void FailSendsFrom(int sendNumber) { failFrom_ = sendNumber; }
    int Sends() const { return sends_; }
    bool Started() const { return started_; }
    const std::vector<std::pair<uint8_t, uint32_t>>& NodeStates() const { return nodeStates_; }

    int Connect(TylCommunicationLibraryNG::ICommConnector*, const std::wstring&,
                const std::wstring&) override {
        return 1;
    }
    void Disconnect() override {}
    void Join() override {}
    int Start() override {
        started_ = true;
        return 0;
    }
    void Stop() override {}
    int Attach(std::unique_ptr<orv::ICanLink>) override { return 1; }
    std::string LastError() const override { return {}; }
    bool IsRunning() const override { return started_; }
    int SendNmt(const uint8_t* specifier, const uint8_t* nodeId, uint8_t* scratch) override;
    int SendCanFrame(const uint16_t* id, const uint8_t* data, const uint8_t* length,
                     uint8_t* scratch) override;
    CanOpenLibrary::EngineCounters Counters() const override { return {}; }
    int SetNodeState(const uint8_t* nodeId, const uint32_t* state) override {
        nodeStates_.emplace_back(*nodeId, *state);
        return 0;
    }

  private:
    EventLog& log_;
    std::map<uint8_t, std::deque<std::vector<Reply>>> script_;
    int sends_ = 0;
    int failFrom_ = 0;
    bool started_ = false;
    std::vector<std::pair<uint8_t, uint32_t>> nodeStates_;
};

// "frame 212 ff 00 ..." as the log writes it.
std::string FrameEvent(uint16_t id, const Bytes8& data);

}  // namespace orv::test
