#pragma once

namespace orv {

// Kind of target board; the protocol object and the program image are built with it.
enum TargetMode : int {
    MODE_HT = 0,
    MODE_PUC = 1,
    MODE_HT_PDO = 2,
};

}  // namespace orv
