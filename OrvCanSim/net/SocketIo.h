#pragma once

#include <cstddef>
#include <cstdint>

namespace orv::sim {

// Reads exactly count bytes unless the clock (NowMs) reaches deadlineMs first. False at the end
// of the stream, on an error or when the deadline passes.
bool ReadExactlyBefore(int fd, void* buffer, size_t count, uint64_t deadlineMs);

}  // namespace orv::sim
