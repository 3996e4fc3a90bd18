#pragma once

#include <cstdint>

#include "os/ManualResetEvent.h"
#include "pccard/LibraryCard.h"
#include "pccard/NiCanApi.h"

namespace orv {

// An NI-CAN interface "CAN0" through "nican.dll". The library calls back on a thread of its
// own without reference data, so the callback finds the card through the process-wide current
// card; there is one per process.
class CNiCanCard : public LibraryCard {
  public:
    CNiCanCard();
    ~CNiCanCard() override;

  private:
    bool Usable() const override { return library_ != nullptr; }
    int OpenCard() override;
    int CloseCard() override;
    int WriteFrame(uint16_t id, const uint8_t* data, int length) override;
    int ResetCard() override;
    static nican::State OnNotification(nican::Handle object, nican::State state,
                                       nican::Status status, void* refData);
    bool LoadLibrary();
    int CloseObject();

    uint32_t baudRate_ = 250000;
    nican::Handle objectHandle_ = 0;
    ManualResetEvent txDoneEvent_;
    nican::EntryPoints api_;
};

}  // namespace orv
