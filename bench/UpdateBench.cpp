// Updates the example instrument (examples/instrument: six PUCs on three routes, each route a
// simulator of its own) twice with OrvUpdate and prints what OrvUpdate itself costs: the whole
// update against its longest route's own time (the sum of that route's tool runs), its own
// time beyond its children's, its CPU share while it waits, and what a second run on the
// current instrument does.
//   build/bench/UpdateBench
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchFigures.h"
#include "nlohmann/json.hpp"
#include "support/TestFiles.h"

extern char** environ;

namespace {

struct UpdateRun {
    int exitStatus = -1;
    double wallMs = 0;
    double ownCpuMs = 0;  // OrvUpdate's own user and system time, its children's left out
    nlohmann::json report;
};

// User and system time of the process itself, from /proc (the children's sit in other fields).
double OwnCpuMs(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::vector<std::string> values(13);
    for (std::string& value : values) {
        fields >> value;
    }
    const double ticks = std::stod(values[11]) + std::stod(values[12]);  // utime, stime
    return ticks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

UpdateRun RunUpdate(const std::string& release, const std::string& dir, const std::string& name) {
    const std::string program = ORV_BINARY_DIR "/OrvUpdate";
    const std::string report = dir + "/" + name + ".json";
    const std::string logs = dir + "/" + name + "-logs";
    std::vector<std::string> args = {program, "run",      release, "--log-dir",
                                     logs,    "--report", report};
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, (dir + "/" + name + ".out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    UpdateRun run;
    const int error = posix_spawn(&pid, program.c_str(), &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    if (error != 0) {
        return run;
    }
    // Read its CPU time once it has ended but before it is reaped; at most 10 minutes.
    siginfo_t info{};
    for (int polls = 0; polls < 60000; ++polls) {
        info.si_pid = 0;
        if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == pid) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    run.ownCpuMs = OwnCpuMs(pid);
    int status = 0;
    waitpid(pid, &status, 0);
    run.wallMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.report = nlohmann::json::parse(orv::test::ReadFile(report));
    return run;
}

// The sum of the tool runs of each route's boards.
std::map<std::string, double> RouteTimes(const nlohmann::json& report) {
    std::map<std::string, double> routes;
    for (const nlohmann::json& board : report["boards"]) {
        for (const nlohmann::json& step : board["steps"]) {
            routes[board["route"]] += step["ms"].get<double>();
        }
    }
    return routes;
}

void PrintFirstRun(const UpdateRun& run) {
    const auto routes = RouteTimes(run.report);
    double longest = 0;
    for (const auto& [route, ms] : routes) {
        longest = std::max(longest, ms);
    }
    const double ratio = run.wallMs / longest;
    const double own = (run.wallMs - longest) / run.wallMs * 100;
    // /proc counts in clock ticks: one tick more is the bound the count allows.
    const double tickMs = 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
    const double cpu = (run.ownCpuMs + tickMs) / run.wallMs * 100;
    std::printf("first run: %zu routes in parallel, every board flashed (exit %d)\n", routes.size(),
                run.exitStatus);
    Figure("whole update", run.wallMs / 1000, "s");
    Figure("longest route's own time (sum of its tool runs)", longest / 1000, "s");
    Figure("whole update / longest route", ratio, "", "<= 1.05", ratio <= 1.05);
    Figure("OrvUpdate's own time beyond its children's", own, "%", "< 1 %", own < 1);
    Figure("OrvUpdate's CPU time / wall time (at most)", cpu, "%", "< 1 %", cpu < 1);
}

void PrintSecondRun(const UpdateRun& run) {
    size_t boards = 0;
    size_t probed = 0;
    size_t downloads = 0;
    for (const nlohmann::json& board : run.report["boards"]) {
        ++boards;
        std::string commands;
        for (const nlohmann::json& step : board["steps"]) {
            const std::string command = step["command"];
            downloads += command.find(" Dnl") != std::string::npos ? 1 : 0;
            commands += command.substr(command.find(' ', command.find(' ') + 1) + 1, 5) + ",";
        }
        probed += commands.rfind("ToBoo,GetIn,ToApp,", 0) == 0 && board["steps"].size() == 3;
    }
    std::printf("second run: the instrument holds the release (exit %d)\n", run.exitStatus);
    Figure("whole update", run.wallMs / 1000, "s");
    Figure("boards that only had their probe", static_cast<double>(probed), "", "all",
           probed == boards);
    Figure("downloads", static_cast<double>(downloads), "", "0", downloads == 0);
}
}  // namespace

int main() {
    orv::test::TempDir dir;
    const std::string script = ORV_SOURCE_DIR "/scripts/instrument-sim.sh";
    const std::string sims = "ORV_CAN_SIM=" ORV_BINARY_DIR "/OrvCanSim " + script;
    if (std::system((sims + " start " + dir.Path() + " >/dev/null").c_str()) != 0) {
        std::fprintf(stderr, "the simulators did not start\n");
        return 1;
    }
    const std::string release = dir.File("release.toml");
    const UpdateRun first = RunUpdate(release, dir.Path(), "first");
    const UpdateRun second = RunUpdate(release, dir.Path(), "second");
    std::system((sims + " stop " + dir.Path()).c_str());
    PrintFirstRun(first);
    PrintSecondRun(second);
    return first.exitStatus == 0 && second.exitStatus == 0 ? 0 : 1;
}
