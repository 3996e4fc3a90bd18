#pragma once

#include <cstdint>

namespace orv {

struct CanFrame {
    uint32_t id = 0;     // 11-bit identifier
    uint8_t length = 0;  // 0..8
    uint8_t data[8] = {};
};

}  // namespace orv
