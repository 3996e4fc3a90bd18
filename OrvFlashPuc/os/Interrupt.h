#pragma once

#include <string>

// For a program that ends its work in its own time: from HoldInterrupts() on, Ctrl-C and a
// request to terminate (SIGINT and SIGTERM; on Windows Ctrl-C, Ctrl-Break and closing the
// console) no longer end the process. A worker asks whether one came; a server waits for it.
namespace orv {

// Call before the first thread starts. A reader gone from a pipe ends nothing either: the
// write fails instead.
void HoldInterrupts();

bool InterruptRequested();

// Blocks until an interrupt arrives; its name, for the log.
std::string WaitForInterrupt();

}  // namespace orv
