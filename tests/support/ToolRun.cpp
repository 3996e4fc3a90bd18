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

// Reads what is available; false once the pipe has reached its end.
bool Drain(int fd, std::string& into) {
    char buffer[4096];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0)
        into.append(buffer, static_cast<size_t>(got));
    return got > 0 || (got < 0 && errno == EINTR);
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

}  // namespace

ToolResult RunTool(const std::vector<std::string>& args, const ToolRunOptions& options) {
    ToolResult result;
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
    std::vector<char*> argvPointers = PointersOf(argv);
    std::vector<char*> envPointers = PointersOf(envp);

    int outPipe[2] = {-1, -1};
    int errPipe[2] = {-1, -1};
    const auto start = std::chrono::steady_clock::now();
    const auto elapsedMs = [start] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start)
            .count();
    };
    const pid_t child =
        OpenChannel(outPipe, false) && OpenChannel(errPipe, options.errorOnTerminal) ? fork() : -1;
    if (child == 0) {
        // Only async-signal-safe calls between fork and exec.
        if (options.workDir.empty() || chdir(options.workDir.c_str()) == 0) {
            dup2(outPipe[1], STDOUT_FILENO);
            dup2(errPipe[1], STDERR_FILENO);
            execve(argvPointers[0], argvPointers.data(), envPointers.data());
        }
        _exit(127);
    }
    for (int fd : {outPipe[1], errPipe[1]})
        close(fd);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    for (int openPipes = child < 0 ? 0 : 2; openPipes > 0;) {
        const int64_t left = options.timeoutMs - elapsedMs();
        if (left <= 0) {
            result.timedOut = true;
            kill(child, SIGKILL);
            break;
        }
        if (poll(fds, 2, static_cast<int>(left)) < 0 && errno != EINTR)
            break;
        for (pollfd& fd : fds) {
            if (fd.fd >= 0 && (fd.revents & (POLLIN | POLLHUP | POLLERR)) != 0 &&
                !Drain(fd.fd, fd.fd == outPipe[0] ? result.out : result.err)) {
                fd.fd = -1;
                --openPipes;
            }
        }
    }
    for (int fd : {outPipe[0], errPipe[0]})
        close(fd);
    if (child < 0)
        return result;

    int status = 0;
    rusage usage{};
    pid_t waited;
    while ((waited = wait4(child, &status, WNOHANG, &usage)) == 0 ||
           (waited < 0 && errno == EINTR)) {
        if (elapsedMs() >= options.timeoutMs) {
            result.timedOut = true;
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            break;
        }
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
