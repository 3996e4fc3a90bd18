#pragma once

namespace orv {

// What a command run ends with; -1 reaches the shell as 255.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = -1;

}  // namespace orv
