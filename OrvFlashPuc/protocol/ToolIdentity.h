#pragma once

// How the tool names itself: in the banner and in the boot code compatibility step.
namespace orv {

inline constexpr const char* kPlatformName = "TYL";
inline constexpr const char* kToolVersion = "4.5.0.1178";

}  // namespace orv
