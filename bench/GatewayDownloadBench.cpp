// Flashes and verifies a full PUC image through the unpaced simulator's gateway and prints what
// the tool itself costs: the time beyond the pauses the download prescribes and beyond the
// gateway's own work, its exchange rate beside a plain loopback ping-pong, its CPU share and
// its memory. When the Windows build is there, its OrvFlashPuc.exe is measured the same way
// under Wine (a fresh prefix of its own), Wine's own start-up counted as the tool's.
//   build/bench/GatewayDownloadBench [HEX file, default examples/puc-full.hex]
#include <sched.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
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

struct Measured {
    orv::test::ToolResult download;
    orv::bench::TimingProxy::Figures downloadGateway;
    orv::test::ToolResult verify;
    orv::bench::TimingProxy::Figures verifyGateway;
    // A run that only prints the usage text: what starting the program costs by itself (under
    // Wine, Wine's own start and end); unset for the Linux build.
    std::optional<orv::test::ToolResult> usageOnly;
};

// The figures of a Windows run with Wine's own start-up, end and memory taken out.
void ReportBeyondLauncher(const Measured& m) {
    const orv::test::ToolResult& usage = *m.usageOnly;
    const double overheadMs =
        m.download.elapsedMs - kPrescribedPauseMs - m.downloadGateway.gatewayMs - usage.elapsedMs;
    const double overheadShare = 100.0 * overheadMs / kPrescribedPauseMs;
    const double peakMiB =
        (std::max(m.download.peakRssKiB, m.verify.peakRssKiB) - usage.peakRssKiB) / 1024.0;
    Figure("usage-text run: wall time", usage.elapsedMs, "ms");
    Figure("usage-text run: peak resident set", usage.peakRssKiB / 1024.0, "MiB");
    Figure("DnlPUC overhead beyond that run / pauses", overheadShare, "%", "< 2 %",
           overheadShare < 2);
    Figure("peak resident set beyond that run", peakMiB, "MiB", "< 4 MiB", peakMiB < 4);
}

// DnlPUC and VerPUC of the file through the proxy; nothing when either failed.
std::optional<Measured> DownloadAndVerify(orv::bench::TimingProxy& proxy, const std::string& file,
                                          const orv::test::ToolRunOptions& options) {
    const std::string gateway = "127.0.0.1:" + std::to_string(proxy.Port());
    Measured m;
    m.download = orv::test::RunTool({gateway, "0", "DnlPUC", "12", file}, options);
    m.downloadGateway = proxy.Take();
    m.verify = orv::test::RunTool({gateway, "0", "VerPUC", "12", file}, options);
    m.verifyGateway = proxy.Take();
    if (m.download.exitCode != 0 || m.verify.exitCode != 0) {
        std::fprintf(stderr, "DnlPUC (%d):\n%s\nVerPUC (%d):\n%s\n", m.download.exitCode,
                     m.download.out.c_str(), m.verify.exitCode, m.verify.out.c_str());
        return std::nullopt;
    }
    return m;
}

void Report(const char* tool, const std::string& source, const Measured& m) {
    const double referenceRate =
        orv::bench::PingPongRate(m.verifyGateway.exchanges, kReadBackBytes);
    const double overheadMs =
        m.download.elapsedMs - kPrescribedPauseMs - m.downloadGateway.gatewayMs;
    const double overheadShare = 100.0 * overheadMs / kPrescribedPauseMs;
    const double toolRate = m.verifyGateway.turnarounds / (m.verifyGateway.toolMs / 1000.0);
    const double rateRatio = toolRate / referenceRate;
    const double cpuShare = 100.0 * static_cast<double>(m.download.cpuMs) / m.download.elapsedMs;
    const double peakRssMiB = std::max(m.download.peakRssKiB, m.verify.peakRssKiB) / 1024.0;

    std::printf("%s, DnlPUC of %s:\n", tool, std::filesystem::path(source).filename().c_str());
    Figure("wall time", m.download.elapsedMs, "ms");
    Figure("pauses the download prescribes", kPrescribedPauseMs, "ms");
    Figure("gateway carrying out the commands", m.downloadGateway.gatewayMs, "ms");
    Figure("exchanges", m.downloadGateway.exchanges, "");
    std::printf("VerPUC:\n");
    Figure("wall time", m.verify.elapsedMs, "ms");
    Figure("gateway carrying out the commands", m.verifyGateway.gatewayMs, "ms");
    Figure("exchanges", m.verifyGateway.exchanges, "");
    Figure("exchanges per second, gateway time included",
           m.verifyGateway.exchanges / (m.verify.elapsedMs / 1000.0), "/s");
    Figure("exchanges per second, tool's side alone", toolRate, "/s");
    Figure("the same for a plain loopback ping-pong", referenceRate, "/s");
    Figure("tool's CPU time per exchange", 1000.0 * m.verify.cpuMs / m.verifyGateway.exchanges,
           "us");
    Figure("DnlPUC overhead / prescribed pauses", overheadShare, "%", "< 2 %", overheadShare < 2);
    Figure("VerPUC tool's side / plain ping-pong", rateRatio, "", ">= 0.9", rateRatio >= 0.9);
    Figure("DnlPUC CPU time / wall time", cpuShare, "%", "< 2 %", cpuShare < 2);
    Figure("peak resident set of the tool", peakRssMiB, "MiB", "< 4 MiB", peakRssMiB < 4);
    if (m.usageOnly)
        ReportBeyondLauncher(m);
    std::printf("\n");
}

// Measures the Windows executable under Wine in a prefix made for this run; nothing when there
// is no Windows build or no Wine.
std::optional<Measured> MeasureWindowsTool(orv::bench::TimingProxy& proxy, const std::string& file,
                                           const orv::test::TempDir& dir) {
    const std::string exe = std::string(ORV_WINDOWS_BUILD_DIR) + "/OrvFlashPuc.exe";
    if (!std::filesystem::exists(exe) || !std::filesystem::exists(ORV_WINE))
        return std::nullopt;
    const orv::test::TempDir prefix;
    const std::string script = std::string(ORV_SOURCE_DIR) + "/scripts/wine-prefix.sh ";
    const std::string prefixArgs = prefix.Path() + " " ORV_WINE " " + exe;
    if (std::system((script + "create " + prefixArgs).c_str()) != 0)
        return std::nullopt;
    orv::test::ToolRunOptions options{
        .workDir = dir.Path(), .program = exe, .launcher = {ORV_WINE}};
    options.env = {{"WINEPREFIX", prefix.Path()}, {"WINEDEBUG", "-all"}, {"DISPLAY", ""}};
    // Wine's first start in a fresh prefix reads its own files from disk; the tool's runs must
    // not pay that. The usage-text run then measures a warm start, as the download gets.
    orv::test::RunTool({"-h"}, options);
    const orv::test::ToolResult usage = orv::test::RunTool({"-h"}, options);
    std::optional<Measured> measured = DownloadAndVerify(proxy, file, options);
    if (measured)
        measured->usageOnly = usage;
    [[maybe_unused]] const int removed = std::system((script + "remove " + prefixArgs).c_str());
    return measured;
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
    const std::optional<Measured> linux = DownloadAndVerify(proxy, file, {.workDir = dir.Path()});
    if (!linux)
        return 1;
    Report("Linux build", source, *linux);
    if (const std::optional<Measured> windows = MeasureWindowsTool(proxy, file, dir))
        Report("Windows build under Wine", source, *windows);
    else
        std::printf(
            "Windows build under Wine: not measured (no Windows build, no Wine, or a run "
            "failed)\n");
    return 0;
}
