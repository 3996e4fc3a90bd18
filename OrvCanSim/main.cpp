#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

#include "OrvCanSim/bus/SimLog.h"
#include "OrvCanSim/process/SimOptions.h"
#include "OrvCanSim/process/Simulator.h"
#include "os/Interrupt.h"

namespace {

// A connection in the middle of a long gateway command may hold shutdown up this long.
constexpr std::chrono::milliseconds kShutdownGrace{2000};

}  // namespace

int main(int argc, char** argv) {
    orv::sim::SimOptions options;
    if (const std::optional<int> exitCode = orv::sim::ParseSimOptions(argc, argv, options)) {
        return *exitCode;
    }
    orv::HoldInterrupts();

    std::unique_ptr<orv::sim::Simulator> simulator;
    try {
        simulator = std::make_unique<orv::sim::Simulator>(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "OrvCanSim: %s\n", error.what());
        return 1;
    }
    std::fputs(simulator->ListenLines().c_str(), stdout);
    std::fflush(stdout);

    const std::string interrupt = orv::WaitForInterrupt();
    orv::sim::SimLog("%s received, ending", interrupt.c_str());
    if (!simulator->Shutdown(kShutdownGrace)) {
        orv::sim::SimLog("a connection is still busy with a gateway command; leaving it");
        std::fflush(nullptr);
        std::_Exit(0);
    }
    simulator.reset();
    orv::sim::SimLog("ended");
    return 0;
}
