#pragma once

#include <cstdio>

// One line of a benchmark's report: a figure, and against a target whether it was met.
inline void Figure(const char* name, double value, const char* unit, const char* goal = nullptr,
                   bool met = true) {
    std::printf("  %-50s %12.3f %-4s", name, value, unit);
    if (goal != nullptr) {
        std::printf(" %-4s (target %s)", met ? "ok" : "MISS", goal);
    }
    std::printf("\n");
}
