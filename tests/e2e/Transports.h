#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "support/SimProcess.h"
#include "support/TestFiles.h"

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
    // The tool to run and what runs it: the Linux build's own unless set.
    std::string program = ORV_FLASH_PUC_BIN;
    std::vector<std::string> launcher{};
    // Every line end of the tool's output and of FLASH.LOG is CR LF (a Windows tool).
    bool crlfLineEnds = false;
    // A file's path as the tool is to be given it; unset: as it is.
    std::function<std::string(const std::string&)> toolPath{};
};

const std::vector<Transport>& AllTransports();

// Text as read with CR LF taken as a line end; adds a failure when any line end is a bare LF.
std::string CrLfAsLineEnd(const std::string& text);

// The tool's -1 as the shell sees it.
constexpr int kExitFailure = 255;

// Bytes that differ from their neighbours, so a misplaced byte shows.
std::vector<uint8_t> Program(size_t count, uint8_t seed);
// A PUC program in two sub-blocks, 10 and 36: one in each flash page. Returns its path.
std::string WritePucProgram(const TempDir& dir, const std::string& lineEnd = "\n");

// Test names and failure messages show the transport by its name.
inline void PrintTo(const Transport& transport, std::ostream* out) {
    *out << transport.name;
}

}  // namespace orv::test
