#pragma once

#include <string>

// For a program that serves until it is told to end: Ctrl-C or a request to terminate (SIGINT
// and SIGTERM; on Windows Ctrl-C, Ctrl-Break and closing the console) is awaited on one thread
// instead of ending the process at once.
namespace orv {

// Call before the first thread starts: on POSIX systems threads inherit what is held.
// A reader gone from a pipe ends nothing either: the write fails instead.
void HoldInterrupts();

// Blocks until an interrupt arrives; its name, for the log.
std::string WaitForInterrupt();

}  // namespace orv
