#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "os/CanFrame.h"

// A real CAN link: a socketcand server reached over TCP, or a local SocketCAN interface.
// Used by the Ethernet-to-CAN engine and by the stand-in card driver libraries.
namespace orv {

class CanLink {
  public:
    enum class ReceiveResult { Frame, Timeout, Closed };

    virtual ~CanLink() = default;
    // False when the frame could not be handed to the link.
    virtual bool Send(const CanFrame& frame) = 0;
    // Blocks up to timeoutMs (negative: no limit) for the next received frame.
    virtual ReceiveResult Receive(CanFrame& frame, int timeoutMs) = 0;
    // Ends the link; a Receive blocked on another thread returns Closed.
    virtual void Close() = 0;
};

// Opens a link by its description:
//   socketcand:HOST[:PORT][/CHANNEL]   (default port 29536, channel can0)
//   socketcan:IFACE
// Returns null and sets error to one line that says why when the link cannot be reached
// within a bounded time.
std::unique_ptr<CanLink> OpenCanLink(const std::string& description, std::string& error);

}  // namespace orv
