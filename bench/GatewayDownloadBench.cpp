// Flashes and verifies a full PUC image through the unpaced simulator's gateway and prints what
// the tool itself costs: the time beyond the pauses the download prescribes and beyond the
// gateway's own work, its exchange rate beside a plain loopback ping-pong, its CPU share and
// its memory.
//   build/bench/GatewayDownloadBench [HEX file, default examples/puc-full.hex]
#include <sched.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchFigures.h"
#include "LoopbackExchange.h"
#include "TimingProxy.h"
#include "support/SimProcess.h"
#include "support/TestFiles.h"
#include "support/ToolRun.h"

namespace {

// The pauses of a PUC download: 12 s for programming, 1 s before finalizing.
constexpr double kPrescribedPauseMs = 12000 + 1000;
// A read-back request (header and 8 address bytes) and its reply (header and 8 data bytes).
constexpr size_t kReadBackBytes = 24;

// The CPUs this process may run on.
std::vector<int> AllowedCpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    std::vector<int> cpus;
    if (sched_getaffinity(0, sizeof set, &set) != 0)
        return cpus;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &set))
            cpus.push_back(cpu);
    }
    return cpus;
}

// Keeps the calling thread, and the threads and processes it starts from now on, on one CPU.
void PinTo(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    sched_setaffinity(0, sizeof set, &set);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string source =
        argc > 1 ? argv[1] : std::string(ORV_SOURCE_DIR) + "/examples/puc-full.hex";
    orv::test::TempDir dir;
    const std::string file = dir.File("program.hex");
    std::filesystem::copy_file(source, file);

    // The simulator gets a CPU of its own: what it still does after a reply is not the tool's
    // time. The tool, the proxy and the ping-pong take turns on another, all alike.
    const std::vector<int> cpus = AllowedCpus();
    if (cpus.size() >= 2)
        PinTo(cpus[0]);
    orv::test::SimProcess sim({"--puc", "12,mode=boot", "--gateway", "0:0"});
    if (cpus.size() >= 2)
        PinTo(cpus[1]);
    orv::bench::TimingProxy proxy(sim.GatewayPort(0));
    if (proxy.Port() < 0) {
        std::fprintf(stderr, "cannot listen on loopback\n");
        return 1;
    }
    const std::string gateway = "127.0.0.1:" + std::to_string(proxy.Port());
    orv::test::ToolRunOptions options;
    options.workDir = dir.Path();

    const auto download = orv::test::RunTool({gateway, "0", "DnlPUC", "12", file}, options);
    const orv::bench::TimingProxy::Figures downloadGateway = proxy.Take();
    const auto verify = orv::test::RunTool({gateway, "0", "VerPUC", "12", file}, options);
    const orv::bench::TimingProxy::Figures verifyGateway = proxy.Take();
    if (download.exitCode != 0 || verify.exitCode != 0) {
        std::fprintf(stderr, "DnlPUC (%d):\n%s\nVerPUC (%d):\n%s\n", download.exitCode,
                     download.out.c_str(), verify.exitCode, verify.out.c_str());
        return 1;
    }
    const double referenceRate = orv::bench::PingPongRate(verifyGateway.exchanges, kReadBackBytes);

    const double overheadMs = download.elapsedMs - kPrescribedPauseMs - downloadGateway.gatewayMs;
    const double overheadShare = 100.0 * overheadMs / kPrescribedPauseMs;
    const double toolRate = verifyGateway.turnarounds / (verifyGateway.toolMs / 1000.0);
    const double rateRatio = toolRate / referenceRate;
    const double cpuShare = 100.0 * static_cast<double>(download.cpuMs) / download.elapsedMs;
    const double peakRssMiB = std::max(download.peakRssKiB, verify.peakRssKiB) / 1024.0;

    std::printf("DnlPUC of %s:\n", std::filesystem::path(source).filename().c_str());
    Figure("wall time", download.elapsedMs, "ms");
    Figure("pauses the download prescribes", kPrescribedPauseMs, "ms");
    Figure("gateway carrying out the commands", downloadGateway.gatewayMs, "ms");
    Figure("exchanges", downloadGateway.exchanges, "");
    std::printf("VerPUC:\n");
    Figure("wall time", verify.elapsedMs, "ms");
    Figure("gateway carrying out the commands", verifyGateway.gatewayMs, "ms");
    Figure("exchanges", verifyGateway.exchanges, "");
    Figure("exchanges per second, gateway time included",
           verifyGateway.exchanges / (verify.elapsedMs / 1000.0), "/s");
    Figure("exchanges per second, tool's side alone", toolRate, "/s");
    Figure("the same for a plain loopback ping-pong", referenceRate, "/s");
    Figure("tool's CPU time per exchange", 1000.0 * verify.cpuMs / verifyGateway.exchanges, "us");
    std::printf("\n");
    Figure("DnlPUC overhead / prescribed pauses", overheadShare, "%", "< 2 %", overheadShare < 2);
    Figure("VerPUC tool's side / plain ping-pong", rateRatio, "", ">= 0.9", rateRatio >= 0.9);
    Figure("DnlPUC CPU time / wall time", cpuShare, "%", "< 2 %", cpuShare < 2);
    Figure("peak resident set of the tool", peakRssMiB, "MiB", "< 4 MiB", peakRssMiB < 4);
    return 0;
}
