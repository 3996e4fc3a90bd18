#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "os/LibraryLoader.h"
#include "pccard/CanCard.h"
#include "pccard/ReceiveRing.h"

namespace orv {

// A card driven through a driver library loaded at run time: a card whose library is not
// usable answers CARD_ERR_NO_LIBRARY to every operation, and received frames wait in the
// receive ring until Read takes them.
class LibraryCard : public CCanCard {
  public:
    LibraryCard(const LibraryCard&) = delete;
    LibraryCard& operator=(const LibraryCard&) = delete;

    int Open() final;
    int Close() final;
    int Write(uint16_t id, const uint8_t* data, int length) final;
    int Reset() final;
    int Read(CanCardFrame* frame, uint32_t timeoutMs) final;

  protected:
    explicit LibraryCard(ReceiveRing::EventReset readEventReset)
        : readEventReset_(readEventReset) {}

    enum class Loading { Done, NoLibrary, NoEntryPoint };
    // Loads the driver library into library_ and binds its entry points with bindAll; a
    // library that lacks one is let go again.
    Loading LoadDriverLibrary(const char* windowsName,
                              const std::function<bool(const LoadedLibrary&)>& bindAll);

    // The operations once the library is known usable.
    virtual bool Usable() const = 0;
    virtual int OpenCard() = 0;
    virtual int CloseCard() = 0;
    virtual int WriteFrame(uint16_t id, const uint8_t* data, int length) = 0;
    virtual int ResetCard() = 0;

    ReceiveRing ring_;
    std::unique_ptr<LoadedLibrary> library_;

  private:
    ReceiveRing::EventReset readEventReset_;
};

}  // namespace orv
