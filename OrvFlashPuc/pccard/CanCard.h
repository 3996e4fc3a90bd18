#pragma once

#include <cstdint>

namespace orv {

// Results of the card drivers besides 0 (success). The NI-CAN driver may also pass a status
// of its library through unchanged.
enum CanCardStatus : int {
    CARD_ERR_TIMEOUT = 106,
    CARD_ERR_DRIVER = 107,
    CARD_ERR_NO_LIBRARY = 108,
};

// One received frame as a card hands it over.
struct CanCardFrame {
    uint32_t id = 0;
    uint32_t length = 0;  // 0..8
    uint8_t data[8] = {};
};

// A CAN controller in the PC, reached through its driver library.
class CCanCard {
  public:
    virtual int Open() = 0;
    virtual int Close() = 0;
    virtual int Write(uint16_t id, const uint8_t* data, int length) = 0;
    virtual int Reset() = 0;
    virtual int Read(CanCardFrame* frame, uint32_t timeoutMs) = 0;
    virtual ~CCanCard() = default;
};

}  // namespace orv
