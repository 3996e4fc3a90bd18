#include "canlink/CanLink.h"

#include <strings.h>

#include "canlink/SocketCanLink.h"
#include "canlink/SocketcandLink.h"

namespace orv {
namespace {

// How long each step of reaching a socketcand server may take.
constexpr int kSocketcandStepTimeoutMs = 3000;

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() &&
           strncasecmp(text.c_str(), prefix.c_str(), prefix.size()) == 0;
}

// HOST[:PORT][/CHANNEL]
std::unique_ptr<CanLink> OpenSocketcand(const std::string& address, std::string& error) {
    std::string endpoint = address;
    std::string channel = "can0";
    const size_t slash = endpoint.find('/');
    if (slash != std::string::npos) {
        channel = endpoint.substr(slash + 1);
        endpoint.erase(slash);
    }
    uint16_t port = kSocketcandDefaultPort;
    const size_t colon = endpoint.find(':');
    if (colon != std::string::npos) {
        const std::string portText = endpoint.substr(colon + 1);
        endpoint.erase(colon);
        unsigned long value = 0;
        const bool digitsOnly = !portText.empty() && portText.size() <= 5 &&
                                portText.find_first_not_of("0123456789") == std::string::npos;
        if (digitsOnly) {
            value = std::stoul(portText);
        }
        if (!digitsOnly || value == 0 || value > 65535) {
            error = "socketcand: '" + portText + "' is no port number";
            return nullptr;
        }
        port = static_cast<uint16_t>(value);
    }
    if (endpoint.empty()) {
        error = "socketcand: the route names no host (HOST[:PORT][/CHANNEL])";
        return nullptr;
    }
    // The channel travels inside a "< open ... >" message: one word, no brackets.
    if (channel.empty() || channel.find_first_of(" \t\r\n<>") != std::string::npos) {
        error = "socketcand: '" + channel + "' is no channel name";
        return nullptr;
    }
    return OpenSocketcandLink(endpoint, port, channel, kSocketcandStepTimeoutMs, error);
}

}  // namespace

std::unique_ptr<CanLink> OpenCanLink(const std::string& description, std::string& error) {
    const std::string socketcand = "socketcand:";
    const std::string socketcan = "socketcan:";
    if (StartsWithNoCase(description, socketcand)) {
        return OpenSocketcand(description.substr(socketcand.size()), error);
    }
    if (StartsWithNoCase(description, socketcan)) {
        return OpenSocketCanLink(description.substr(socketcan.size()), error);
    }
    error = "no CAN link '" + description + "': use socketcand:HOST[:PORT][/CHANNEL] or " +
            "socketcan:IFACE";
    return nullptr;
}

}  // namespace orv
