#include "CLI/CLI.hpp"
#include "OrvUpdate/run/Commands.h"
#include "os/Console.h"

namespace {

void AddPlanOptions(CLI::App& command, orv::update::PlanOptions& options) {
    command.add_option("RELEASE", options.release, "the release file (TOML)")->required();
    command.add_option("--tool", options.tool,
                       "the OrvFlashPuc to run (default: beside OrvUpdate)");
    command.add_option("--log-dir", options.logDir, "folder of the boards' logs (default: logs)");
    command.add_option("--jobs", options.jobs, "routes at work at once (default: all)");
}
}  // namespace

int main(int argc, char** argv) {
    CLI::App app(
        "Brings every board of an instrument to a firmware release, one OrvFlashPuc run "
        "per board step.",
        "OrvUpdate");
    // A path such as /tmp/release.toml is an argument, never an option, on every platform.
    app.allow_windows_style_options(false);
    app.require_subcommand(1);
    orv::update::PlanOptions plan;
    CLI::App* planCommand =
        app.add_subcommand("plan", "check the release and show what a run would do");
    AddPlanOptions(*planCommand, plan);
    planCommand->add_flag("--probe", plan.probe,
                          "ask each PUC for its checksum (sends it to its boot loader and back)");
    orv::update::RunOptions run;
    CLI::App* runCommand = app.add_subcommand("run", "bring every board to the release");
    AddPlanOptions(*runCommand, run);
    runCommand->add_option("--report", run.report, "write a JSON report to this file");
    runCommand->add_flag("--force", run.update.force, "flash boards that hold the image already");
    runCommand->add_flag("--verify", run.update.verify, "verify each PUC after its download");
    runCommand->add_option("--retries", run.update.retries, "tries after a failed download")
        ->check(CLI::Range(0, 10));
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? 0 : 255;
    }
    return planCommand->parsed() ? orv::update::PlanRelease(plan) : orv::update::RunRelease(run);
}
