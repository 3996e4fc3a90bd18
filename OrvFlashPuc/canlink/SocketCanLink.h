#pragma once

#include <memory>
#include <string>

#include "canlink/CanLink.h"
#include "os/Socket.h"

namespace orv {

// A CAN link over a socket that carries one struct can_frame per read and write: a raw CAN
// socket, or in tests one end of a sequenced-packet socket pair. Takes ownership of it.
std::unique_ptr<CanLink> MakeSocketCanLink(SocketHandle socket);

// Opens a raw CAN socket bound to a local interface such as can0 or vcan0.
std::unique_ptr<CanLink> OpenSocketCanLink(const std::string& interfaceName, std::string& error);

}  // namespace orv
