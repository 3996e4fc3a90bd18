#pragma once

#include <cstddef>
#include <cstdint>

#include "os/Socket.h"

namespace orv::sim {

// Reads exactly count bytes unless the clock (NowMs) reaches deadlineMs first. False at the end
// of the stream, on an error or when the deadline passes.
bool ReadExactlyBefore(SocketHandle socket, void* buffer, size_t count, uint64_t deadlineMs);

}  // namespace orv::sim
