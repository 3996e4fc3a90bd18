#pragma once

#include <string>
#include <vector>

namespace orv {

struct ChildOutcome {
    // 0..255 as a shell sees it (a program's -1 is 255); 128 + the signal that ended it; -1 when
    // it did not start.
    int exitStatus = -1;
    std::string failure;  // why it did not start; empty when it ran
};

// Runs a program to its end with its standard output and standard error appended to the two
// files (created when missing). The child gets a process group of its own, so that a Ctrl-C at
// the terminal reaches only its parent, which decides whether the child's work is cut short.
ChildOutcome RunChildProcess(const std::string& program, const std::vector<std::string>& args,
                             const std::string& outputPath, const std::string& errorPath);

}  // namespace orv
