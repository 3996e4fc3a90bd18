#pragma once

#include <sys/types.h>

#include <csignal>
#include <map>
#include <string>
#include <vector>

namespace orv::test {

// OrvCanSim as a child process of one test. The constructor starts it and waits (at most 15 s)
// for its READY, else throws std::runtime_error with its log; the destructor stops it.
class SimProcess {
  public:
    explicit SimProcess(const std::vector<std::string>& args);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    int GatewayPort(int board) const {
        return gatewayPorts_.count(board) ? gatewayPorts_.at(board) : -1;
    }
    int BridgePort() const { return bridgePort_; }
    std::string Log() const;  // its standard error so far
    // Sends the signal and waits (bounded) for the end: the exit status, 128 + the signal that
    // ended it, or -1 when it had to be killed.
    int Stop(int signal = SIGTERM);

  private:
    std::string directory_;
    pid_t pid_ = -1;
    int exitStatus_ = -1;
    std::map<int, int> gatewayPorts_;
    int bridgePort_ = -1;
};

}  // namespace orv::test
