#pragma once

namespace orv {

// What the operating system needs on the main thread before the first command: on Windows
// the working directory out of the library search, COM in the multithreaded apartment (never
// uninitialised), console output in text mode, and a 1 ms timer resolution so that the boot
// protocol's 1 ms pauses last 1 ms; nothing elsewhere.
void PrepareMainThread();

}  // namespace orv
