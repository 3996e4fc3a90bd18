#pragma once

#include <cstdint>

namespace Infra {

// A 16-byte interface identifier in its usual field split; equal when every byte is equal.
struct GUID {
    std::uint32_t Data1 = 0;
    std::uint16_t Data2 = 0;
    std::uint16_t Data3 = 0;
    std::uint8_t Data4[8] = {};

    bool operator==(const GUID&) const = default;
};

inline constexpr GUID GUID_NULL{};

}  // namespace Infra
