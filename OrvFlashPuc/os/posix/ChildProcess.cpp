#include "os/ChildProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <cstring>

extern char** environ;

namespace orv {
namespace {
constexpr int kOutputFlags = O_WRONLY | O_CREAT | O_APPEND;

// The child starts with default dispositions and nothing blocked, whatever its parent set up
// for itself, and leads a process group of its own.
bool PrepareAttributes(posix_spawnattr_t& attributes) {
    sigset_t defaults;
    sigset_t none;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigemptyset(&none);
    return posix_spawnattr_init(&attributes) == 0 &&
           posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF |
                                                     POSIX_SPAWN_SETSIGMASK) == 0 &&
           posix_spawnattr_setpgroup(&attributes, 0) == 0 &&
           posix_spawnattr_setsigdefault(&attributes, &defaults) == 0 &&
           posix_spawnattr_setsigmask(&attributes, &none) == 0;
}

int WaitForEnd(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}
}  // namespace

ChildOutcome RunChildProcess(const std::string& program, const std::vector<std::string>& args,
                             const std::string& outputPath, const std::string& errorPath) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t files;
    posix_spawnattr_t attributes;
    ChildOutcome outcome;
    if (posix_spawn_file_actions_init(&files) != 0 || !PrepareAttributes(attributes)) {
        outcome.failure = "cannot prepare a child process";
        return outcome;
    }
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, outputPath.c_str(), kOutputFlags, 0666);
    posix_spawn_file_actions_addopen(&files, 2, errorPath.c_str(), kOutputFlags, 0666);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, program.c_str(), &files, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        outcome.failure = program + ": " + std::strerror(error);
        return outcome;
    }
    outcome.exitStatus = WaitForEnd(pid);
    return outcome;
}

}  // namespace orv
