#pragma once

#include <cstdint>
#include <memory>
#include <thread>

#include "os/LibraryLoader.h"
#include "os/ManualResetEvent.h"
#include "pccard/CanApi.h"
#include "pccard/CanCard.h"
#include "pccard/ReceiveRing.h"

// A USB CAN adapter through "CANAPI.DLL". The library has no notification, so a thread of the
// driver polls it every millisecond while reception is enabled.
class USBLight : public CCanCard {
  public:
    USBLight();
    ~USBLight() override;
    USBLight(const USBLight&) = delete;
    USBLight& operator=(const USBLight&) = delete;

    int Open() override;
    int Close() override;
    int Write(uint16_t id, const uint8_t* data, int length) override;
    int Reset() override;
    int Read(CanCardFrame* frame, uint32_t timeoutMs) override;

  private:
    bool LoadLibrary();
    bool InitCard();
    bool Transmit(uint16_t id, const uint8_t* data, int length);
    int EnableReception();
    void DisableReception();
    static void ReceiveThread();
    void ReceiveWhileEnabled();

    uint8_t ready_ = 0;
    uint8_t running_ = 0;
    ReceiveRing ring_;
    std::thread receiveThread_;
    std::unique_ptr<orv::LoadedLibrary> library_;
    canapi::EntryPoints api_;
    ManualResetEvent stopEvent_;
    ManualResetEvent enableEvent_;
};
