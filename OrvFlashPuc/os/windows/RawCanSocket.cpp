#include "os/RawCanSocket.h"

namespace orv {

SocketHandle OpenRawCanSocket(const std::string& interfaceName, std::string& error) {
    error = "SocketCAN: no local CAN interface such as " + interfaceName +
            " exists on Windows; use Ethernet2CAN:HOST[:PORT][/CHANNEL]";
    return kNoSocket;
}

bool WriteRawCanFrame(SocketHandle /*socket*/, const CanFrame& /*frame*/) {
    return false;
}

RawCanRead ReadRawCanFrame(SocketHandle /*socket*/, CanFrame& /*frame*/) {
    return RawCanRead::Ended;
}

}  // namespace orv
