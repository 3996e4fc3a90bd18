#pragma once

#include <functional>
#include <string>

// What the simulator does, one line per event, to standard error unless a test redirects it.
// Safe to call from any thread.
namespace orv::sim {

[[gnu::format(printf, 1, 2)]] void SimLog(const char* format, ...);

// Replaces the destination of the log lines (each without its line end) and returns the one
// before; an empty function means standard error.
std::function<void(const std::string&)> SetSimLogSink(std::function<void(const std::string&)> sink);

}  // namespace orv::sim
