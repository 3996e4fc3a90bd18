#include "support/ToolRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>

extern char** environ;

namespace orv::test {
namespace {

std::vector<char*> PointersOf(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// A pipe, or a pseudo-terminal whose master end reads what the child writes to the other.
bool OpenChannel(int (&fds)[2], bool terminal) {
    if (!terminal)
        return pipe2(fds, O_CLOEXEC) == 0;
    fds[0] = posix_openpt(O_RDWR | O_NOCTTY);
    if (fds[0] < 0 || fcntl(fds[0], F_SETFD, FD_CLOEXEC) != 0 || grantpt(fds[0]) != 0 ||
        unlockpt(fds[0]) != 0)
        return false;
    fds[1] = open(ptsname(fds[0]), O_RDWR | O_NOCTTY | O_CLOEXEC);
    return fds[1] >= 0;
}

// Collects both streams until they end or the time is up (then the child is killed).
void Collect(int out, int err, pid_t child, const std::function<int64_t()>& leftMs,
             ToolResult& result) {
    pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    char buffer[4096];
    for (int open = child < 0 ? 0 : 2; open > 0 && !result.timedOut;) {
        if ((result.timedOut = leftMs() <= 0))
            kill(child, SIGKILL);
        else if (poll(fds, 2, static_cast<int>(leftMs())) < 0 && errno != EINTR)
            return;
        for (pollfd& fd : fds) {
            if (fd.fd < 0 || (fd.revents & (POLLIN | POLLHUP | POLLERR)) == 0)
                continue;
            const ssize_t got = read(fd.fd, buffer, sizeof buffer);
            if (got > 0)
                (fd.fd == out ? result.out : result.err).append(buffer, static_cast<size_t>(got));
            else if (got == 0 || errno != EINTR)
                fd.fd = -1, --open;
        }
    }
}

}  // namespace

ToolResult RunTool(const std::vector<std::string>& args, const ToolRunOptions& options) {
    std::vector<std::string> argv = options.launcher;
    argv.push_back(options.program);
    argv.insert(argv.end(), args.begin(), args.end());
    // Ours, less what the options replace, then theirs.
    std::vector<std::string> envp;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (std::none_of(options.env.begin(), options.env.end(),
                         [&](const auto& set) { return text.rfind(set.first + "=", 0) == 0; }))
            envp.push_back(text);
    }
    for (const auto& [key, value] : options.env)
        envp.push_back(key + "=" + value);
    std::vector<char*> argvPointers = PointersOf(argv), envPointers = PointersOf(envp);

    const auto start = std::chrono::steady_clock::now();
    const auto elapsedMs = [start] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start)
            .count();
    };
    int out[2] = {-1, -1}, err[2] = {-1, -1};
    const pid_t child =
        OpenChannel(out, false) && OpenChannel(err, options.errorOnTerminal) ? fork() : -1;
    if (child == 0) {
        // Only async-signal-safe calls between fork and exec.
        if (options.workDir.empty() || chdir(options.workDir.c_str()) == 0) {
            dup2(out[1], STDOUT_FILENO);
            dup2(err[1], STDERR_FILENO);
            execve(argvPointers[0], argvPointers.data(), envPointers.data());
        }
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    ToolResult result;
    Collect(
        out[0], err[0], child, [&] { return options.timeoutMs - elapsedMs(); }, result);
    close(out[0]);
    close(err[0]);
    int status = 0;
    rusage usage{};
    pid_t waited = -1;
    while (child > 0 && ((waited = wait4(child, &status, WNOHANG, &usage)) == 0 ||
                         (waited < 0 && errno == EINTR))) {
        if ((result.timedOut |= elapsedMs() >= options.timeoutMs))
            kill(child, SIGKILL);
        usleep(2000);
    }
    result.elapsedMs = elapsedMs();
    const auto toMs = [](const timeval& t) { return int64_t{t.tv_sec} * 1000 + t.tv_usec / 1000; };
    result.cpuMs = toMs(usage.ru_utime) + toMs(usage.ru_stime);
    result.peakRssKiB = usage.ru_maxrss;
    result.exitCode = waited == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace orv::test
