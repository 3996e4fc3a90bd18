#pragma once

#include <string>

#include "OrvUpdate/run/BoardUpdate.h"

namespace orv::update {

struct PlanOptions {
    std::string release;
    std::string tool;    // empty: OrvFlashPuc beside this program
    std::string logDir;  // empty: "logs" in the working directory
    size_t jobs = 0;
    bool probe = false;
};

struct RunOptions : PlanOptions {
    std::string report;  // JSON report file; empty: none
    UpdateOptions update;
};

// Both return the exit status: 0 when every board is (or, for the plan, may be) brought to the
// release, 255 otherwise. A release file that fails its checks is refused before any board is
// touched, each reason on standard error.
int PlanRelease(const PlanOptions& options);
int RunRelease(const RunOptions& options);

}  // namespace orv::update
