#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "OrvCanSim/gateway/BootSession.h"
#include "canlink/CanLink.h"

// What the gateway makes of a request once its bytes (the leading byte count included) have
// arrived, apart from the socket that brought them, so that the framing can be driven from
// anywhere.
namespace orv::sim {

// Whether a request announcing that many bytes is read at all.
bool IsAcceptedRequestLength(uint32_t length);
// Whether a complete request may be carried out; logged, against who, when not.
bool IsWellFormed(const std::vector<uint8_t>& request, const std::string& who);
// The reply to a well-formed request: OPEN and RESET are answered at once, SEND_FRAME puts its
// frame on the link, and every other command is the session's.
std::vector<uint8_t> CarryOut(BootSession& session, CanLink& link,
                              const std::vector<uint8_t>& request);

}  // namespace orv::sim
