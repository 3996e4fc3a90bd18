#pragma once

#include <cstdint>
#include <memory>

#include "os/LibraryLoader.h"
#include "os/ManualResetEvent.h"
#include "pccard/CanCard.h"
#include "pccard/NiCanApi.h"
#include "pccard/ReceiveRing.h"

// An NI-CAN interface "CAN0" through "nican.dll". The library calls back on a thread of its
// own without reference data, so the callback finds the card through the process-wide current
// card; there is one per process.
class CNiCanCard : public CCanCard {
  public:
    CNiCanCard();
    ~CNiCanCard() override;
    CNiCanCard(const CNiCanCard&) = delete;
    CNiCanCard& operator=(const CNiCanCard&) = delete;

    int Open() override;
    int Close() override;
    int Write(uint16_t id, const uint8_t* data, int length) override;
    int Reset() override;
    int Read(CanCardFrame* frame, uint32_t timeoutMs) override;

  private:
    static nican::State OnNotification(nican::Handle object, nican::State state,
                                       nican::Status status, void* refData);
    bool LoadLibrary();
    int CloseObject();

    ReceiveRing ring_;
    uint32_t baudRate_ = 250000;
    nican::Handle objectHandle_ = 0;
    ManualResetEvent txDoneEvent_;
    std::unique_ptr<orv::LoadedLibrary> library_;
    nican::EntryPoints api_;
};
