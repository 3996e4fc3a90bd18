#pragma once

#include <memory>
#include <string>

#include "canlink/CanLink.h"

// Stand-in for the instrument's communication library: the connector turns a named route into
// a CAN link. Route names (the left part compared without regard to case):
//   Ethernet2CAN:HOST[:PORT][/CHANNEL]   a socketcand server (port 29536, channel can0)
//   SocketCAN:IFACE                      a local CAN interface
namespace TylCommunicationLibraryNG {

enum E_TYLLIB_Result { TYLLIB_OK = 0, TYLLIB_NO_MEMORY = 1 };

class ICommConnector {
  public:
    virtual ~ICommConnector() = default;
    // Null with error set to one line that says why, when the route is unknown or unreachable.
    virtual std::unique_ptr<orv::CanLink> OpenRoute(const std::wstring& routeLeft,
                                                     const std::wstring& routeRight,
                                                     std::string& error) = 0;
};

// Sets *connector to a new connector, or leaves it null on failure.
E_TYLLIB_Result CreateOrvCommDriverConnector(ICommConnector** connector);

}  // namespace TylCommunicationLibraryNG
