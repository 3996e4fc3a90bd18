#include "OrvCanSim/boards/BootStatus.h"

namespace orv::sim {

const char* BootStatusText(uint8_t status) {
    switch (status) {
        case kStatusOk:
            return "fine";
        case kStatusToggleMismatch:
            return "toggle mismatch";
        case kStatusChecksumMismatch:
            return "checksum mismatch";
        case kStatusNoWriteEnable:
            return "no write enable";
        case kStatusOutOfSequence:
            return "frame out of sequence";
        case kStatusOutOfRange:
            return "address out of range";
        case kStatusBusy:
            return "busy";
        case kStatusUnknownCommand:
            return "unknown command";
        default:
            return "injected";
    }
}

}  // namespace orv::sim
