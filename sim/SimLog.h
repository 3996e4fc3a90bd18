#pragma once

#include <functional>
#include <string>

// What the simulator does, one line per event, to standard error unless a test redirects it.
// Safe to call from any thread.
namespace orv::sim {

[[gnu::format(printf, 1, 2)]] void SimLog(const char* format, ...);

// Replaces the destination of the log lines (each without its line end); an empty function
// restores standard error.
void SetSimLogSink(std::function<void(const std::string&)> sink);

}  // namespace orv::sim
