#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "support/SimProcess.h"

namespace orv::test {

using Environment = std::vector<std::pair<std::string, std::string>>;

// One way for the tool to reach the simulated bus: one more entry in AllTransports() adds it to
// every end-to-end case.
struct Transport {
    std::string name{};
    std::vector<std::string> simArgs{};  // what the simulator must listen on
    std::function<std::string(const SimProcess&)> firstArgument{};
    std::function<Environment(const SimProcess&)> environment{};  // unset: none
    // False when this simulator cannot serve the case (it is then started anew); unset: always.
    std::function<bool(const SimProcess&)> usable{};
    // Why this transport cannot run on this machine; empty when it can.
    std::function<std::string()> unavailable{};
    bool carriesRawFrames = true;  // which DnlHTpdo and IDENTIFY need
    std::string announcement{};    // the line the tool prints when it opens the transport
    std::string program = ORV_FLASH_PUC_BIN;
    std::vector<std::string> launcher{};
    bool crlfLineEnds = false;  // a Windows tool: every line of its output and FLASH.LOG
    // A file's path as the tool is to be given it; unset: as it is.
    std::function<std::string(const std::string&)> toolPath{};
};

const std::vector<Transport>& AllTransports();

// Text with CR LF taken as a line end; adds a failure when any line end is a bare LF.
std::string CrLfAsLineEnd(const std::string& text);

inline void PrintTo(const Transport& transport, std::ostream* out) {
    *out << transport.name;
}

}  // namespace orv::test
