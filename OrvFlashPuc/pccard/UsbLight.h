#pragma once

#include <cstdint>
#include <thread>

#include "os/ManualResetEvent.h"
#include "pccard/CanApi.h"
#include "pccard/LibraryCard.h"

namespace orv {

// A USB CAN adapter through "CANAPI.DLL". The library has no notification, so a thread of the
// driver polls it every millisecond while reception is enabled.
class USBLight : public LibraryCard {
  public:
    USBLight();
    ~USBLight() override;

  private:
    bool Usable() const override { return ready_ != 0; }
    int OpenCard() override;
    int CloseCard() override;
    int WriteFrame(uint16_t id, const uint8_t* data, int length) override;
    int ResetCard() override;
    bool LoadLibrary();
    bool InitCard();
    bool Transmit(uint16_t id, const uint8_t* data, int length);
    int EnableReception();
    void DisableReception();
    static void ReceiveThread();
    void ReceiveWhileEnabled();

    uint8_t ready_ = 0;
    uint8_t running_ = 0;
    std::thread receiveThread_;
    canapi::EntryPoints api_;
    ManualResetEvent stopEvent_;
    ManualResetEvent enableEvent_;
};

}  // namespace orv
