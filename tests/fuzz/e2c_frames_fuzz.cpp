// Frames arriving on the Ethernet-to-CAN route while the adapter carries gateway requests out:
// the bus answers each frame the adapter sends with the next bytes of the input, handed to the
// adapter's byte-stream receive path in pieces of any size.
#include <cstddef>
#include <cstring>
#include <memory>

#include "FuzzSupport.h"
#include "transport/E2CCommAdapter.h"
#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace {

using orv::fuzz::FuzzInput;

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
    int Answer() {
        const std::string bytes = input_.Piece(48);
        adapter->OnReceiveBytes(reinterpret_cast<const uint8_t*>(bytes.data()),
                                static_cast<int>(bytes.size()));
        // Another node's frame after every answer keeps the receive event set, so that a wait
        // ends on the clock rather than on the wall.
        const CanOpenLibrary::FrameRecord other{0x7FF, 0, {}};
        frameCallback(reinterpret_cast<const unsigned char*>(&other));
        return input_.Byte() & 1;
    }

    FuzzInput& input_;
};

// The adapter waits for a frame on its receive event in real time, and after a match it waits
// for the next arrival even with frames still queued; the node's reply time-out is held at 0
// so that an input's time stays bounded. Poll waits, 10 s longer, end on the clock instead.
void HoldReplyTimeoutAtZero(CCcbMessage& request) {
    // Whatever the data length, the adapter reads the parameters where they stand.
    if (request.command == CCB_CMD_CONFIGURE || request.command == CCB_CMD_BOOT_INIT) {
        std::memset(request.data + offsetof(BootInitParams, replyTimeoutMs), 0, sizeof(uint32_t));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orv::fuzz::InstallFuzzClock();
    FuzzInput input(data, size);
    auto ownedEngine = std::make_unique<FuzzEngine>(input);
    FuzzEngine& engine = *ownedEngine;
    CE2CCommAdapter adapter(std::move(ownedEngine));
    engine.adapter = &adapter;
    const auto request = std::make_unique<CCcbMessage>();
    const auto reply = std::make_unique<CCcbMessage>();
    uint8_t frame[8];
    while (!input.Empty()) {
        switch (input.Byte() % 4) {
            case 0: {
                const std::string bytes = input.Piece(48);
                adapter.OnReceiveBytes(reinterpret_cast<const uint8_t*>(bytes.data()),
                                       static_cast<int>(bytes.size()));
                break;
            }
            case 1:
                adapter.WaitForFrame(frame, input.Byte(), 0);
                break;
            case 2:
                input.Request(*request);
                adapter.SendRaw(request.get(), static_cast<int>(request->length), reply.get(),
                                input.Byte(), 0);
                break;
            default:
                input.Request(*request);
                HoldReplyTimeoutAtZero(*request);
                adapter.Transact(request.get(), reply.get(), sizeof(CCcbMessage), 0);
                break;
        }
    }
    return 0;
}
