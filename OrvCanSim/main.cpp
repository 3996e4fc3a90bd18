#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "OrvCanSim/bus/SimLog.h"
#include "OrvCanSim/process/SimOptions.h"
#include "OrvCanSim/process/Simulator.h"

namespace {

// A connection in the middle of a long gateway command may hold shutdown up this long.
constexpr std::chrono::milliseconds kShutdownGrace{2000};

}  // namespace

int main(int argc, char** argv) {
    orv::sim::SimOptions options;
    if (const std::optional<int> exitCode = orv::sim::ParseSimOptions(argc, argv, options)) {
        return *exitCode;
    }
    // Every thread inherits this mask, so the signals wait for sigwait below.
    sigset_t endSignals;
    sigemptyset(&endSignals);
    sigaddset(&endSignals, SIGINT);
    sigaddset(&endSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<orv::sim::Simulator> simulator;
    try {
        simulator = std::make_unique<orv::sim::Simulator>(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "OrvCanSim: %s\n", error.what());
        return 1;
    }
    std::fputs(simulator->ListenLines().c_str(), stdout);
    std::fflush(stdout);

    int received = 0;
    sigwait(&endSignals, &received);
    orv::sim::SimLog("%s received, ending", received == SIGINT ? "SIGINT" : "SIGTERM");
    if (!simulator->Shutdown(kShutdownGrace)) {
        orv::sim::SimLog("a connection is still busy with a gateway command; leaving it");
        std::fflush(nullptr);
        std::_Exit(0);
    }
    simulator.reset();
    orv::sim::SimLog("ended");
    return 0;
}
