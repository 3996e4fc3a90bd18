#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "standins/CanOpenEngine.h"

namespace orv::test {

// An engine that connects, starts and sends without a bus; fakes override what they script.
class InertCanOpenEngine : public CanOpenLibrary::ICanOpenEngine {
  public:
    int Connect(TylCommunicationLibraryNG::ICommConnector*, const std::wstring&,
                const std::wstring&) override {
        return 0;
    }
    void Disconnect() override {}
    void Join() override {}
    int Start() override { return 0; }
    void Stop() override {}
    int Attach(std::unique_ptr<orv::CanLink>) override { return 0; }
    std::string LastError() const override { return {}; }
    bool IsRunning() const override { return true; }
    int SendNmt(const uint8_t*, const uint8_t*, uint8_t*) override { return 0; }
    int SendCanFrame(const uint16_t*, const uint8_t*, const uint8_t*, uint8_t*) override {
        return 0;
    }
    CanOpenLibrary::EngineCounters Counters() const override { return {}; }
    int SetNodeState(const uint8_t*, const uint32_t*) override { return 0; }
};

}  // namespace orv::test
