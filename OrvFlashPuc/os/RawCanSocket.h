#pragma once

#include <string>

#include "os/CanFrame.h"
#include "os/Socket.h"

// A raw socket on a local CAN interface (Linux SocketCAN). Windows has none: opening fails
// with a line that says so.
namespace orv {

// kNoSocket with error set when the interface cannot be opened.
SocketHandle OpenRawCanSocket(const std::string& interfaceName, std::string& error);

bool WriteRawCanFrame(SocketHandle socket, const CanFrame& frame);

enum class RawCanRead { Frame, Skipped, Ended };
// Reads one record: Skipped for what carries no data frame (short records, error frames,
// remote requests) or when nothing has arrived.
RawCanRead ReadRawCanFrame(SocketHandle socket, CanFrame& frame);

}  // namespace orv
