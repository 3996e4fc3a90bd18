#include "standins/CommConnector.h"

#include <strings.h>

#include <new>

namespace TylCommunicationLibraryNG {
namespace {

// Route names are typed on a command line: anything outside ASCII cannot name a host or an
// interface, so it becomes '?' and fails there with the text shown.
std::string Narrow(const std::wstring& text) {
    std::string narrow;
    narrow.reserve(text.size());
    for (wchar_t c : text) {
        narrow += c > 0 && c < 0x80 ? static_cast<char>(c) : '?';
    }
    return narrow;
}

class OrvCommDriverConnector : public ICommConnector {
  public:
    std::unique_ptr<orv::CanLink> OpenRoute(const std::wstring& routeLeft,
                                             const std::wstring& routeRight,
                                             std::string& error) override {
        const std::string left = Narrow(routeLeft);
        const std::string right = Narrow(routeRight);
        if (strcasecmp(left.c_str(), "Ethernet2CAN") == 0) {
            return orv::OpenCanLink("socketcand:" + right, error);
        }
        if (strcasecmp(left.c_str(), "SocketCAN") == 0) {
            return orv::OpenCanLink("socketcan:" + right, error);
        }
        error = "Unknown route '" + left + ":" + right +
                "': use Ethernet2CAN:HOST[:PORT][/CHANNEL] or SocketCAN:IFACE";
        return nullptr;
    }
};

}  // namespace

E_TYLLIB_Result CreateOrvCommDriverConnector(ICommConnector** connector) {
    *connector = new (std::nothrow) OrvCommDriverConnector;
    return *connector != nullptr ? TYLLIB_OK : TYLLIB_NO_MEMORY;
}

}  // namespace TylCommunicationLibraryNG
