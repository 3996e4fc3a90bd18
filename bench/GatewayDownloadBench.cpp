// Flashes and verifies a full PUC image through the unpaced simulator and prints what the tool
// costs beyond what the boot loader's sequence prescribes:
//   build/bench/GatewayDownloadBench [HEX file, default examples/puc-full.hex]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "support/SimProcess.h"
#include "support/TestFiles.h"
#include "support/ToolRun.h"

namespace {

// The pauses of a PUC download: 12 s for programming, 1 s before finalizing.
constexpr double kPrescribedPauseMs = 12000 + 1000;
// A read-back request (header and 8 address bytes) and its reply (header and 8 data bytes).
constexpr size_t kExchangeBytes = 24;

struct Target {
    const char* figure;
    double value;
    const char* unit;
    bool met;
    const char* goal;
};

void Print(const Target& t) {
    std::printf("%-44s %12.3f %-6s %-4s (target %s)\n", t.figure, t.value, t.unit,
                t.met ? "ok" : "MISS", t.goal);
}

bool SendAll(int fd, const uint8_t* bytes, size_t count) {
    while (count > 0) {
        const ssize_t done = send(fd, bytes, count, MSG_NOSIGNAL);
        if (done <= 0)
            return false;
        bytes += done;
        count -= static_cast<size_t>(done);
    }
    return true;
}

bool ReceiveAll(int fd, uint8_t* bytes, size_t count) {
    while (count > 0) {
        const ssize_t done = recv(fd, bytes, count, 0);
        if (done <= 0)
            return false;
        bytes += done;
        count -= static_cast<size_t>(done);
    }
    return true;
}

// Exchanges per second of the plainest request/reply loop over loopback: a thread that answers
// each request at once, and a client that waits for every reply before the next request.
double PingPongRate(int exchanges) {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(listener, reinterpret_cast<sockaddr*>(&address), size);
    listen(listener, 1);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);

    std::thread server([listener, exchanges] {
        const int peer = accept(listener, nullptr, nullptr);
        const int on = 1;
        setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        uint8_t buffer[kExchangeBytes];
        for (int i = 0; i < exchanges; ++i) {
            if (!ReceiveAll(peer, buffer, sizeof buffer) || !SendAll(peer, buffer, sizeof buffer)) {
                break;
            }
        }
        close(peer);
    });

    const int client = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    connect(client, reinterpret_cast<sockaddr*>(&address), size);
    uint8_t buffer[kExchangeBytes] = {kExchangeBytes};
    const auto start = std::chrono::steady_clock::now();
    int done = 0;
    while (done < exchanges && SendAll(client, buffer, sizeof buffer) &&
           ReceiveAll(client, buffer, sizeof buffer)) {
        ++done;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    close(client);
    server.join();
    close(listener);
    return done / seconds;
}

std::unique_ptr<orv::test::SimProcess> StartSimulator() {
    // A port that is a multiple of 100 would be read as a board's base; take another.
    for (int attempt = 0; attempt < 5; ++attempt) {
        auto sim = std::make_unique<orv::test::SimProcess>(
            std::vector<std::string>{"--puc", "12,mode=boot", "--gateway", "0:0"});
        if (sim->GatewayPort(0) % 100 != 0)
            return sim;
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string source =
        argc > 1 ? argv[1] : std::string(ORV_SOURCE_DIR) + "/examples/puc-full.hex";
    orv::test::TempDir dir;
    const std::string file = dir.File("puc-full.hex");
    std::filesystem::copy_file(source, file);
    const std::unique_ptr<orv::test::SimProcess> sim = StartSimulator();
    if (!sim) {
        std::fprintf(stderr, "the simulator did not start on a usable port\n");
        return 1;
    }
    const std::string gateway = "127.0.0.1:" + std::to_string(sim->GatewayPort(0));
    orv::test::ToolRunOptions options;
    options.workDir = dir.Path();

    const orv::test::ToolResult download =
        orv::test::RunTool({gateway, "0", "DnlPUC", "12", file}, options);
    const orv::test::ToolResult verify =
        orv::test::RunTool({gateway, "0", "VerPUC", "12", file}, options);
    if (download.exitCode != 0 || verify.exitCode != 0) {
        std::fprintf(stderr, "DnlPUC (%d):\n%s\nVerPUC (%d):\n%s\n", download.exitCode,
                     download.out.c_str(), verify.exitCode, verify.out.c_str());
        return 1;
    }
    // Each used sub-block is read back 8 bytes at a time; a few requests open and close.
    size_t subblocks = 0;
    for (size_t at = verify.out.find("Ok.\n"); at != std::string::npos;
         at = verify.out.find("Ok.\n", at + 1)) {
        ++subblocks;
    }
    const int exchanges = static_cast<int>(subblocks * 256 + 6);
    const double toolRate = exchanges / (verify.elapsedMs / 1000.0);
    const double referenceRate = PingPongRate(exchanges);

    const double overheadMs = download.elapsedMs - kPrescribedPauseMs;
    const double overheadShare = 100.0 * overheadMs / kPrescribedPauseMs;
    const double cpuShare = 100.0 * download.cpuMs / download.elapsedMs;
    const double peakRssMiB = std::max(download.peakRssKiB, verify.peakRssKiB) / 1024.0;

    std::printf("PUC image: %zu sub-blocks; DnlPUC took %lld ms, VerPUC %lld ms\n", subblocks,
                static_cast<long long>(download.elapsedMs),
                static_cast<long long>(verify.elapsedMs));
    Print({"DnlPUC overhead beyond the prescribed pauses", overheadShare, "%", overheadShare < 2,
           "< 2 %"});
    std::printf("%-44s %12.1f %-6s\n", "  the same in time", overheadMs, "ms");
    Print({"VerPUC exchanges per second", toolRate, "/s", true, "-"});
    Print({"loopback ping-pong of the same sizes", referenceRate, "/s", true, "-"});
    Print({"VerPUC rate / ping-pong rate", toolRate / referenceRate, "",
           toolRate >= 0.9 * referenceRate, ">= 0.9"});
    Print({"DnlPUC CPU time / wall time", cpuShare, "%", cpuShare < 2, "< 2 %"});
    Print({"peak resident set of the tool", peakRssMiB, "MiB", peakRssMiB < 4, "< 4 MiB"});
    return 0;
}
