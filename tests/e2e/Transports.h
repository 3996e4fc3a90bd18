#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "support/SimProcess.h"

namespace orv::test {

using Environment = std::vector<std::pair<std::string, std::string>>;

// One way for the tool to reach the simulated bus. Adding a transport to every end-to-end case
// is one more entry in AllTransports().
struct Transport {
    std::string name{};
    // What the simulator must listen on, besides the boards of the case.
    std::vector<std::string> simArgs{};
    // The tool's first argument, once the simulator listens.
    std::function<std::string(const SimProcess&)> firstArgument{};
    // Extra environment for the tool; none when unset.
    std::function<Environment(const SimProcess&)> environment{};
    // False when this simulator cannot serve the case (it is then started anew); unset: always.
    std::function<bool(const SimProcess&)> usable{};
    // Why this transport cannot run on this machine; empty when it can.
    std::function<std::string()> unavailable{};
    // DnlHTpdo needs raw CAN frames passed through.
    bool carriesRawFrames = true;
    // The simulator can cut the connection mid-command (--close-after).
    bool connectionCanBeCut = false;
    // The line the tool prints when it opens this transport.
    std::string announcement{};
    // A later Open works again after the protocol's Reset (a PC card stays closed).
    bool reopensAfterReset = true;
};

const std::vector<Transport>& AllTransports();

// Test names and failure messages show the transport by its name.
inline void PrintTo(const Transport& transport, std::ostream* out) {
    *out << transport.name;
}

}  // namespace orv::test
