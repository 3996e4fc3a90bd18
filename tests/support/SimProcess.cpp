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

// True once the child has ended; its status then lands in status.
bool Reaped(pid_t pid, int& status) {
    int raw = 0;
    if (pid <= 0 || waitpid(pid, &raw, WNOHANG) != pid)
        return false;
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return true;
}

void Pause() {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

}  // namespace

SimProcess::SimProcess(const std::vector<std::string>& args) {
    char pattern[] = "/tmp/orvsim-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        throw std::runtime_error("SimProcess: no mkdtemp");
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
    if ((pid_ = fork()) == 0) {
        // Only async-signal-safe calls between fork and exec. The simulator dies with the test.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() == parent && dup2(outFd, 1) >= 0 && dup2(errFd, 2) >= 0)
            execv(pointers[0], pointers.data());
        _exit(127);
    }
    close(outFd);
    close(errFd);
    std::string output;
    for (int waited = 0, status = 0; output.find("READY\n") == std::string::npos; waited += 5) {
        if (Reaped(pid_, status))
            pid_ = -1;  // nothing left to stop
        if (pid_ <= 0 || waited > 15000) {
            const std::string log = Log();
            Stop(SIGKILL);  // the destructor does not run: the directory goes here
            std::filesystem::remove_all(directory_);
            throw std::runtime_error("OrvCanSim did not get ready:\n" + log);
        }
        Pause();
        output = ReadFile(directory_ + "/stdout");
    }
    std::istringstream lines(output);  // "LISTEN gateway BOARD PORT", "LISTEN bridge PORT"
    for (std::string first, kind; lines >> first >> kind && first == "LISTEN";) {
        if (int board = 0; kind == "gateway" && lines >> board)
            lines >> gatewayPorts_[board];
        else if (kind == "bridge")
            lines >> bridgePort_;
    }
}

SimProcess::~SimProcess() {
    Stop(SIGTERM);
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

std::string SimProcess::Log() const {
    return ReadFile(directory_ + "/stderr");
}

int SimProcess::Stop(int signal) {
    if (pid_ <= 0)
        return exitStatus_;
    kill(pid_, signal);
    int status = -1;
    for (int waited = 0; !Reaped(pid_, status) && waited < 5000; waited += 5)
        Pause();
    if (status == -1) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
    return exitStatus_ = status;
}

}  // namespace orv::test
