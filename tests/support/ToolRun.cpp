#include "support/ToolRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

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

// Ours, less what the options replace, then theirs.
std::vector<std::string> EnvironmentOf(const ToolRunOptions& options) {
    std::vector<std::string> envp;
    for (char** entry = environ; *entry != nullptr; ++entry)
        if (std::none_of(options.env.begin(), options.env.end(), [&](const auto& set) {
                return std::string(*entry).rfind(set.first + "=", 0) == 0;
            }))
            envp.push_back(*entry);
    for (const auto& [key, value] : options.env)
        envp.push_back(key + "=" + value);
    return envp;
}

// Collects both streams until they end or the time is up (then the child is killed).
template <typename ElapsedMs>
void Collect(int out, int err, pid_t child, int timeoutMs, const ElapsedMs& elapsedMs,
             ToolResult& result) {
    pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    char buffer[4096];
    for (int open = 2; open > 0;) {
        const auto left = timeoutMs - elapsedMs();
        if (left <= 0) {
            result.timedOut = true;
            kill(child, SIGKILL);
            return;
        }
        if (poll(fds, 2, static_cast<int>(left)) < 0 && errno != EINTR)
            return;
        for (pollfd& fd : fds) {
            if (fd.fd < 0 || (fd.revents & (POLLIN | POLLHUP | POLLERR)) == 0)
                continue;
            const ssize_t got = read(fd.fd, buffer, sizeof buffer);
            if (got > 0 && fd.fd == out) {
                result.out.append(buffer, static_cast<size_t>(got));
                const auto lineEnds = std::count(buffer, buffer + got, '\n');
                result.outLineMs.insert(result.outLineMs.end(), lineEnds, elapsedMs());
            } else if (got > 0)
                result.err.append(buffer, static_cast<size_t>(got));
            else if (got == 0 || errno != EINTR) {
                fd.fd = -1;
                --open;
            }
        }
    }
}

}  // namespace

ToolResult RunTool(const std::vector<std::string>& args, const ToolRunOptions& options) {
    std::vector<std::string> argv = options.launcher, envp = EnvironmentOf(options);
    argv.push_back(options.program);
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argvPointers = PointersOf(argv), envPointers = PointersOf(envp);
    const auto start = std::chrono::steady_clock::now();
    const auto elapsedMs = [start] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start)
            .count();
    };
    int out[2] = {-1, -1}, err[2] = {-1, -1};
    ToolResult result;
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return result;
    const pid_t child = fork();
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
    if (child > 0)
        Collect(out[0], err[0], child, options.timeoutMs, elapsedMs, result);
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
