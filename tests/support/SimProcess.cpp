#include "support/SimProcess.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/TestFiles.h"

namespace orv::test {
namespace {

constexpr auto kPollStep = std::chrono::milliseconds(5);

// True once the child has ended; its status then lands in status.
bool Reaped(pid_t pid, int& status) {
    int raw = 0;
    if (waitpid(pid, &raw, WNOHANG) != pid)
        return false;
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return true;
}

}  // namespace

SimProcess::SimProcess(const std::vector<std::string>& args) {
    char pattern[] = "/tmp/orvsim-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        throw std::runtime_error("SimProcess: mkdtemp failed");
    directory_ = pattern;
    std::vector<std::string> argv = {ORV_CAN_SIM_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& arg : argv)
        pointers.push_back(arg.data());
    pointers.push_back(nullptr);

    // Files rather than pipes: a chatty simulator can never block on a full pipe.
    const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
    const int outFd = open((directory_ + "/stdout").c_str(), flags, 0600);
    const int errFd = open((directory_ + "/stderr").c_str(), flags, 0600);
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        // Only async-signal-safe calls between fork and exec. The simulator dies with the test.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() == parent) {
            dup2(outFd, STDOUT_FILENO);
            dup2(errFd, STDERR_FILENO);
            execv(pointers[0], pointers.data());
        }
        _exit(127);
    }
    close(outFd);
    close(errFd);
    if (pid_ < 0)
        throw std::runtime_error("SimProcess: fork failed");

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (true) {
        std::istringstream lines(Output());
        bool ready = false;
        for (std::string line; std::getline(lines, line);) {
            std::istringstream words(line);
            std::string first, kind;
            int board = -1;
            words >> first >> kind;
            ready = ready || first == "READY";
            if (first == "LISTEN" && kind == "gateway" && words >> board)
                words >> gatewayPorts_[board];
            else if (first == "LISTEN" && kind == "bridge")
                words >> bridgePort_;
        }
        if (ready)
            return;
        int status = 0;
        const bool ended = Reaped(pid_, status);
        if (ended || std::chrono::steady_clock::now() > deadline) {
            if (ended) {
                exitStatus_ = status;
                pid_ = -1;
            }
            const std::string log = Log();
            Stop(SIGKILL);
            std::filesystem::remove_all(directory_);
            throw std::runtime_error("OrvCanSim did not get ready:\n" + log);
        }
        std::this_thread::sleep_for(kPollStep);
    }
}

SimProcess::~SimProcess() {
    Stop(SIGTERM);
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

int SimProcess::GatewayPort(int board) const {
    const auto found = gatewayPorts_.find(board);
    return found == gatewayPorts_.end() ? -1 : found->second;
}

std::string SimProcess::Log() const {
    return ReadFile(directory_ + "/stderr");
}

std::string SimProcess::Output() const {
    return ReadFile(directory_ + "/stdout");
}

int SimProcess::Stop(int signal) {
    if (pid_ <= 0)
        return exitStatus_;
    kill(pid_, signal);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int status = 0;
    while (!Reaped(pid_, status)) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            status = -1;
            break;
        }
        std::this_thread::sleep_for(kPollStep);
    }
    pid_ = -1;
    return exitStatus_ = status;
}

}  // namespace orv::test
