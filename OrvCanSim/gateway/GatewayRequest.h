#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "transport/CcbMessage.h"
#include "transport/E2CCommAdapter.h"

// What the gateway makes of a request once its bytes have arrived, apart from the socket that
// brought them, so that the framing can be driven from anywhere.
namespace orv::sim {

// Whether a request announcing that many bytes (its leading byte count included) is read at all.
bool IsAcceptedRequestLength(uint32_t length);
// Whether a complete request may be carried out; logged, against who, when not.
bool IsWellFormed(const CCcbMessage& request, const std::string& who);
// The reply to a well-formed request: OPEN and RESET answered here, the rest by the adapter.
std::vector<uint8_t> CarryOut(CE2CCommAdapter& adapter, CCcbMessage& request);

}  // namespace orv::sim
