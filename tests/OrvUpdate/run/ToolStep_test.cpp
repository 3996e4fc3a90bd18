#include "OrvUpdate/run/ToolStep.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/TestFiles.h"

namespace orv::update {
namespace {

using orv::test::ReadFile;

// A stand-in for the tool: its output ends without a line end, as the tool's failure lines do.
constexpr const char* kFailingTool =
    "#!/bin/sh\necho \"Please wait... flashing\"\nprintf 'Download failed!'\necho \"no CAN link\" "
    ">&2\nexit 255\n";

TEST(ToolStep, LogsEachRunAfterItsCommandLineAndKeepsItsStatusAndOutput) {
    orv::test::TempDir dir;
    orv::test::WriteFile(dir.File("tool"), kFailingTool);
    chmod(dir.File("tool").c_str(), 0755);
    const ToolStepper stepper(dir.File("tool"), dir.File("pump.log"));
    orv::test::WriteFile(dir.File("pump.log"), "an earlier run\n");
    stepper.StartLogs();

    const StepRecord record = stepper.Run({"CCB0", "0", "DnlPUC", "12"});
    EXPECT_EQ(record.command, "CCB0 0 DnlPUC 12");
    EXPECT_EQ(record.exitStatus, 255);
    EXPECT_EQ(record.output, "Please wait... flashing\nDownload failed!");
    EXPECT_EQ(CurrentActivity(dir.File("pump.log")), "DnlPUC: Download failed!");
    stepper.Run({"CCB0", "0", "ToApp", "12"});
    EXPECT_EQ(ReadFile(dir.File("pump.log")),
              "$ OrvFlashPuc CCB0 0 DnlPUC 12\nPlease wait... flashing\nDownload failed!\n"
              "$ OrvFlashPuc CCB0 0 ToApp 12\nPlease wait... flashing\nDownload failed!\n");
    EXPECT_EQ(ReadFile(dir.File("pump.err.log")), "no CAN link\nno CAN link\n");
}

}  // namespace
}  // namespace orv::update
