#pragma once

namespace orv {

// From the call on, Ctrl-C and a request to terminate (SIGINT and SIGTERM; on Windows also
// Ctrl-Break and closing the console) no longer end the process: they are noted, and the
// program ends its work in its own time.
void CatchInterrupts();
bool InterruptRequested();

}  // namespace orv
