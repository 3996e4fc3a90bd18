// Flashes and verifies a full PUC image through each PC CAN card, over our driver libraries and
// the unpaced simulator's bridge, and prints what the tool costs beyond its prescribed pauses:
//   build/bench/PcCardBench [HEX file, default examples/puc-full.hex]
// The pauses are counted inside the tool by a preloaded ledger (PauseLedger): every sleep of
// the main thread and every wait of it that runs out, as asked and as they took. Then the
// cost of the USB adapter's 1 ms receive thread while nothing happens, measured in process.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "BenchFigures.h"
#include "BuiltCardLibraries.h"
#include "pccard/NiCanCard.h"
#include "pccard/UsbLight.h"
#include "support/SimProcess.h"
#include "support/TestFiles.h"
#include "support/ToolRun.h"

using orv::CNiCanCard;
using orv::USBLight;

namespace {

constexpr const char* kNode = "12";
constexpr int kIdleSeconds = 3;

struct Ledger {
    double askedMs = 0;
    double tookMs = 0;
    long long pauses = 0;
};

Ledger ReadLedger(const std::string& path) {
    Ledger ledger;
    long long askedUs = 0;
    long long tookUs = 0;
    std::ifstream in(path);
    if (in >> askedUs >> tookUs >> ledger.pauses) {
        ledger.askedMs = askedUs / 1000.0;
        ledger.tookMs = tookUs / 1000.0;
    }
    return ledger;
}

// Read requests to the node ({0x60, ...} to 0x20C) in the simulator's candump trace.
size_t CountReads(const std::string& trace) {
    std::ifstream in(trace);
    std::string line;
    size_t reads = 0;
    while (std::getline(in, line)) {
        reads += line.find(" 20C#60") != std::string::npos ? 1 : 0;
    }
    return reads;
}

bool Measure(const char* card, const char* command, const std::string& file,
             const orv::test::SimProcess& sim, const orv::test::TempDir& dir,
             const std::string& trace) {
    const size_t readsBefore = CountReads(trace);
    const std::string ledgerPath = dir.File("ledger.txt");
    std::filesystem::remove(ledgerPath);
    orv::test::ToolRunOptions options;
    options.workDir = dir.Path();
    options.timeoutMs = 600000;
    options.env = {
        {"LD_LIBRARY_PATH", ORV_CARDLIBS_DIR},
        {"LD_PRELOAD", std::string(ORV_BINARY_DIR) + "/bench/liborv_pause_ledger.so"},
        {"ORV_PAUSE_LEDGER", ledgerPath},
        {"ORV_CAN_LINK", "socketcand:127.0.0.1:" + std::to_string(sim.BridgePort()) + "/can0"}};
    const orv::test::ToolResult r = orv::test::RunTool({card, "0", command, kNode, file}, options);
    if (r.exitCode != 0) {
        std::fprintf(stderr, "%s %s failed (%d):\n%s\n%s\n", card, command, r.exitCode,
                     r.out.c_str(), r.err.c_str());
        return false;
    }
    const Ledger ledger = ReadLedger(ledgerPath);
    const double elapsed = static_cast<double>(r.elapsedMs);
    const double asSlept = 100.0 * (elapsed - ledger.tookMs) / ledger.askedMs;
    const double asAsked = 100.0 * (elapsed - ledger.askedMs) / ledger.askedMs;
    const double cpu = 100.0 * static_cast<double>(r.cpuMs) / elapsed;
    const double rss = static_cast<double>(r.peakRssKiB) / 1024.0;
    std::printf("%s %s: %.1f s, %lld pauses asking %.0f ms, taking %.0f ms\n", card, command,
                elapsed / 1000, ledger.pauses, ledger.askedMs, ledger.tookMs);
    const size_t reads = CountReads(trace) - readsBefore;
    if (std::string(command) != "VerPUC") {
        Figure("tool's own time beyond the pauses as slept", asSlept, "%", "< 2 %", asSlept < 2);
    } else {
        // A read-back is one exchange after another: its time is the round trips, not pauses.
        std::printf("  %zu read requests of 8 bytes\n", reads);
        Figure("time beyond the pauses per read request",
               (elapsed - ledger.tookMs) / static_cast<double>(std::max<size_t>(reads, 1)), "ms");
    }
    Figure("time beyond the pauses as slept, in all", elapsed - ledger.tookMs, "ms");
    Figure("time beyond the pauses as asked", asAsked, "%");
    Figure("CPU time / wall time", cpu, "%");
    Figure("peak resident set of the tool", rss, "MiB");
    return true;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

template <typename Card>
double IdleCpuShare() {
    Card card;
    if (card.Open() != 0) {
        std::fprintf(stderr, "the card did not open\n");
        return -1;
    }
    const double start = CpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(kIdleSeconds));
    return 100.0 * (CpuSeconds() - start) / kIdleSeconds;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string source =
        argc > 1 ? argv[1] : std::string(ORV_SOURCE_DIR) + "/examples/puc-full.hex";
    orv::test::TempDir dir;
    const std::string file = dir.File("puc.hex");
    std::filesystem::copy_file(source, file);

    for (const char* card : {"NICAN", "USBLIGHT"}) {
        const std::string trace = dir.File(std::string(card) + ".log");
        orv::test::SimProcess sim(
            {"--puc", std::string(kNode) + ",mode=boot", "--bridge", "0", "--trace", trace});
        if (!Measure(card, "DnlPUC", file, sim, dir, trace) ||
            !Measure(card, "VerPUC", file, sim, dir, trace)) {
            return 1;
        }
    }

    orv::test::SimProcess sim({"--bridge", "0"});
    orv::test::BuiltCardLibraries libraries(
        "socketcand:127.0.0.1:" + std::to_string(sim.BridgePort()) + "/can0");
    std::printf("Open card, nothing on the bus, %d s:\n", kIdleSeconds);
    Figure("NI-CAN card: CPU share of the process", IdleCpuShare<CNiCanCard>(), "%");
    Figure("USB adapter (1 ms receive thread): CPU share", IdleCpuShare<USBLight>(), "%");
    return 0;
}
