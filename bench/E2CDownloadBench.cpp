// Flashes a full PUC image over the named Ethernet-to-CAN route, where the tool carries every
// gateway command out as CAN frames itself, and prints what it costs:
//   build/bench/E2CDownloadBench [HEX file, default examples/puc-full.hex]
// 1. against the unpaced simulator: the tool's time beyond the pauses its sequence prescribes
//    (as asked, and as this machine's sleeps take them), its CPU share and its peak resident set;
// 2. against the simulator paced at 250 kbit/s: the time per 2048-byte sub-block on the bus
//    beside the time its frames need by their bit length.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchFigures.h"
#include "OrvCanSim/bus/CanBitTiming.h"
#include "support/SimProcess.h"
#include "support/TestFiles.h"
#include "support/ToolRun.h"

namespace {

constexpr uint8_t kNode = 12;
constexpr uint32_t kPacedBitrate = 250000;
constexpr int kSubblockBytes = 2048;
constexpr int kSegmentsPerSubblock = (kSubblockBytes + 6) / 7;
// The pauses of a PUC download over this route: the protocol's 12 s for programming and 1 s
// before finalizing; the route's 2 s after the boot-loader NMT command and the reply timeout
// (500 ms) that ends reading away the node's answers; per sub-block 300 ms after its header
// and 1 ms after each segment.
constexpr double kFixedPausesMs = 12000 + 1000 + 2000 + 500;
constexpr int kFixedSleeps = 3;
constexpr double kPausesPerSubblockMs = 300 + kSegmentsPerSubblock;
constexpr int kSleepsPerSubblock = 1 + kSegmentsPerSubblock;

// How much longer than asked a 1 ms sleep takes on this machine: the kernel's timer slack and
// wake-up latency, paid by every pause and by nobody's code.
double SleepOvershootMs() {
    constexpr int kSleeps = 500;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kSleeps; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    return took.count() / kSleeps - 1.0;
}

struct TracedFrame {
    double seconds;
    orv::CanFrame frame;
};

// The simulator's candump log: "(SECONDS.MICROS) CHANNEL ID#HEXDATA".
std::vector<TracedFrame> ReadTrace(const std::string& path) {
    std::vector<TracedFrame> frames;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string time, channel, frameText;
        if (!(words >> time >> channel >> frameText) || time.size() < 3) {
            continue;
        }
        const size_t hash = frameText.find('#');
        if (hash == std::string::npos) {
            continue;
        }
        TracedFrame traced;
        traced.seconds = std::stod(time.substr(1, time.size() - 2));
        traced.frame.id = static_cast<uint32_t>(std::stoul(frameText.substr(0, hash), nullptr, 16));
        const std::string data = frameText.substr(hash + 1);
        traced.frame.length = static_cast<uint8_t>(std::min<size_t>(data.size() / 2, 8));
        for (size_t i = 0; i < traced.frame.length; ++i) {
            traced.frame.data[i] =
                static_cast<uint8_t>(std::stoul(data.substr(2 * i, 2), nullptr, 16));
        }
        frames.push_back(traced);
    }
    return frames;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

std::string Route(const orv::test::SimProcess& sim) {
    return "Ethernet2CAN:127.0.0.1:" + std::to_string(sim.BridgePort()) + "/can0";
}

bool Succeeded(const orv::test::ToolResult& result, const char* what) {
    if (result.exitCode == 0) {
        return true;
    }
    std::fprintf(stderr, "%s failed (%d):\n%s\n%s\n", what, result.exitCode, result.out.c_str(),
                 result.err.c_str());
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string source =
        argc > 1 ? argv[1] : std::string(ORV_SOURCE_DIR) + "/examples/puc-full.hex";
    orv::test::TempDir dir;
    const std::string file = dir.File("puc.hex");
    std::filesystem::copy_file(source, file);
    orv::test::ToolRunOptions options;
    options.workDir = dir.Path();
    options.timeoutMs = 600000;
    const std::string node = std::to_string(kNode);

    orv::test::ToolResult unpaced;
    {
        orv::test::SimProcess sim({"--puc", node + ",mode=boot", "--bridge", "0"});
        unpaced = orv::test::RunTool({Route(sim), "0", "DnlPUC", node, file}, options);
    }
    if (!Succeeded(unpaced, "DnlPUC, unpaced")) {
        return 1;
    }
    const size_t subblocks = Count(unpaced.out, " ... SENT\n");
    const double pausesMs = kFixedPausesMs + subblocks * kPausesPerSubblockMs;
    const double overshootMs = SleepOvershootMs();
    const double sleeps = kFixedSleeps + subblocks * kSleepsPerSubblock;
    const double executedPausesMs = pausesMs + sleeps * overshootMs;
    const double overheadMs = unpaced.elapsedMs - executedPausesMs;
    const double overheadShare = 100.0 * overheadMs / pausesMs;
    const double nominalShare = 100.0 * (unpaced.elapsedMs - pausesMs) / pausesMs;
    const double cpuShare = 100.0 * unpaced.cpuMs / unpaced.elapsedMs;
    const double peakRssMiB = unpaced.peakRssKiB / 1024.0;
    std::printf(
        "Unpaced: %zu sub-blocks, DnlPUC %lld ms, prescribed pauses %.0f ms in %.0f sleeps\n",
        subblocks, static_cast<long long>(unpaced.elapsedMs), pausesMs, sleeps);
    Figure("a 1 ms sleep overshoots by", overshootMs, "ms");
    Figure("time beyond the pauses as asked", nominalShare, "%");
    Figure("tool's own time beyond the pauses as slept", overheadShare, "%", "< 2 %",
           overheadShare < 2);
    Figure("  the same in time", overheadMs, "ms");
    Figure("CPU time / wall time", cpuShare, "%", "< 2 %", cpuShare < 2);
    Figure("peak resident set of the tool", peakRssMiB, "MiB", "< 4 MiB", peakRssMiB < 4);

    const std::string trace = dir.File("paced.log");
    orv::test::ToolResult paced;
    {
        orv::test::SimProcess sim({"--puc", node + ",mode=boot", "--bridge", "0", "--bitrate",
                                   std::to_string(kPacedBitrate), "--trace", trace});
        paced = orv::test::RunTool({Route(sim), "0", "DnlPUC", node, file}, options);
    }
    if (!Succeeded(paced, "DnlPUC, paced")) {
        return 1;
    }
    // A sub-block runs from its header frame to the next header, or to the write enable that
    // follows the last one; its frames are everything in between, both directions.
    const std::vector<TracedFrame> frames = ReadTrace(trace);
    const uint32_t toNode = 0x200 | kNode;
    std::vector<size_t> starts;
    size_t end = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        const orv::CanFrame& f = frames[i].frame;
        if (f.id == toNode && f.length == 8 && f.data[0] == 0x10) {
            starts.push_back(i);
        } else if (f.id == toNode && f.data[0] == 0xAA && f.data[1] == 0x55) {
            end = i;
        }
    }
    if (starts.empty() || end <= starts.back()) {
        std::fprintf(stderr, "no sub-blocks in the trace %s\n", trace.c_str());
        return 1;
    }
    starts.push_back(end);
    double wallSeconds = 0;
    double busSeconds = 0;
    for (size_t s = 0; s + 1 < starts.size(); ++s) {
        wallSeconds += frames[starts[s + 1]].seconds - frames[starts[s]].seconds;
        for (size_t i = starts[s]; i < starts[s + 1]; ++i) {
            busSeconds += orv::sim::FrameBitCount(frames[i].frame) / double(kPacedBitrate);
        }
    }
    const double count = static_cast<double>(starts.size() - 1);
    std::printf("Paced at %u bit/s: %.0f sub-blocks, DnlPUC %lld ms\n", kPacedBitrate, count,
                static_cast<long long>(paced.elapsedMs));
    Figure("time per sub-block", 1000 * wallSeconds / count, "ms");
    Figure("  of it prescribed pauses", kPausesPerSubblockMs, "ms");
    Figure("bus time of its frames by bit length", 1000 * busSeconds / count, "ms");
    Figure("time per sub-block / bus time", wallSeconds / busSeconds, "");
    return 0;
}
