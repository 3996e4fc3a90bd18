#include "pccard/LibraryCard.h"

namespace orv {

LibraryCard::Loading LibraryCard::LoadDriverLibrary(
    const char* windowsName, const std::function<bool(const LoadedLibrary&)>& bindAll) {
    library_ = LoadLibraryByWindowsName(windowsName);
    if (!library_) {
        return Loading::NoLibrary;
    }
    if (!bindAll(*library_)) {
        library_.reset();
        return Loading::NoEntryPoint;
    }
    return Loading::Done;
}

int LibraryCard::Open() {
    return Usable() ? OpenCard() : CARD_ERR_NO_LIBRARY;
}

int LibraryCard::Close() {
    return Usable() ? CloseCard() : CARD_ERR_NO_LIBRARY;
}

int LibraryCard::Write(uint16_t id, const uint8_t* data, int length) {
    return Usable() ? WriteFrame(id, data, length) : CARD_ERR_NO_LIBRARY;
}

int LibraryCard::Reset() {
    return Usable() ? ResetCard() : CARD_ERR_NO_LIBRARY;
}

int LibraryCard::Read(CanCardFrame* frame, uint32_t timeoutMs) {
    return Usable() ? ring_.Take(frame, timeoutMs, readEventReset_) : CARD_ERR_NO_LIBRARY;
}

}  // namespace orv
