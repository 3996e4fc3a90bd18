#pragma once

#include <sys/types.h>

#include <csignal>
#include <map>
#include <string>
#include <vector>

namespace orv::test {

// OrvCanSim as a child process of one test. The constructor starts it with the given arguments
// and waits (at most 15 s) until it has printed READY; it throws std::runtime_error with the
// simulator's log when that does not happen. The destructor ends it: SIGTERM, a bounded wait,
// then SIGKILL.
class SimProcess {
  public:
    explicit SimProcess(const std::vector<std::string>& args);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // -1 when the simulator runs no such listener.
    int GatewayPort(int board) const;
    int BridgePort() const { return bridgePort_; }
    // Its standard error so far.
    std::string Log() const;
    // Sends the signal and waits (bounded) for the end. Returns the exit status, or 128 + the
    // signal number when a signal ended it; -1 when it had to be killed.
    int Stop(int signal = SIGTERM);

  private:
    std::string directory_;
    pid_t pid_ = -1;
    int exitStatus_ = -1;
    std::map<int, int> gatewayPorts_;
    int bridgePort_ = -1;
};

}  // namespace orv::test
