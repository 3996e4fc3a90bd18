#pragma once

#include <memory>

#include "frontend/RunSettings.h"
#include "transport/CommAdapter.h"

namespace orv {

// The whole run of one command: parse, open the transport, run the command, exit code.
int RunCommandDriver(int argc, char** argv);

// Creates the transport that the settings name and prints which it is; null (after the
// reason) when a gateway cannot be reached.
std::unique_ptr<CCommAdapter> OpenTransport(const RunSettings& settings);

// Runs the command of the settings over the transport; the exit code.
int DispatchCommand(RunSettings& settings, CCommAdapter& transport);

}  // namespace orv
