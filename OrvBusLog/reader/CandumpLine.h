#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "os/CanFrame.h"

// One line of a candump log: "(SECONDS.FRACTION) IFACE FRAME", FRAME being ID#DATA (three
// hexadecimal digits for a standard identifier, eight for an extended one), ID#R[DLC] for a
// remote frame or ID##FLAGS DATA for a CAN FD frame.
namespace orv::buslog {

enum class FrameKind { Data, Remote, FlexibleData };

struct LoggedFrame {
    int64_t micros = 0;  // the time stamp, in microseconds
    FrameKind kind = FrameKind::Data;
    bool extended = false;
    // The data of classic data frames only; id holds 29 bits (and candump's flag bits) when
    // extended.
    CanFrame frame;
};

// nullopt when the line is anything but one frame of a candump log; a line end and trailing
// blanks are allowed.
std::optional<LoggedFrame> ParseCandumpLine(std::string_view line);

}  // namespace orv::buslog
