#include "frontend/FlashLog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "os/Console.h"
#include "support/TestFiles.h"

namespace orv::test {
namespace {

// Each record is appended behind what is there, in the fixed columns.
TEST(FlashLog, RecordFormat) {
    TempDir dir;
    const std::string path = dir.File("FLASH.LOG");
    WriteFile(path, "older line\n");
    ConsoleCapture capture;
    CFlashLog log(path.c_str());
    EXPECT_TRUE(log.Append("test1.hex", 0xABCD, "01.02.23", "03.04.24", 12, 0));
    EXPECT_TRUE(log.Append("a.hex", 0x5, "01.02.23", "03.04.24", 127, 0x12345678));
    EXPECT_TRUE(log.Append("my prog.hex", 0x0, "01.02.23", "03.04.24", 0, 0xFFFFFFFF));
    EXPECT_TRUE(CFlashLog(path.c_str()).Append("", 0xF800, "01.02.23", "03.04.24", 0xFF, 0xA));
    EXPECT_EQ(ReadFile(path),
              "older line\n"
              "test1.hex ABCD 01.02.23 03.04.24  C        0\n"
              "a.hex    5 01.02.23 03.04.24 7F 12345678\n"
              "my prog.hex    0 01.02.23 03.04.24  0 FFFFFFFF\n"
              " F800 01.02.23 03.04.24 FF        A\n");
    EXPECT_EQ(capture.Text(), "");
}

TEST(FlashLog, UnwritableLogFails) {
    TempDir dir;
    ConsoleCapture capture;
    // A directory in the log's place cannot be opened for writing, not even by root.
    const std::string blocked = dir.File("FLASH.LOG");
    ASSERT_EQ(mkdir(blocked.c_str(), 0755), 0);
    EXPECT_FALSE(CFlashLog(blocked.c_str()).Append("a.hex", 1, "d", "d", 1, 0));
    // Opens, but every write fails.
    EXPECT_FALSE(CFlashLog("/dev/full").Append("a.hex", 1, "d", "d", 1, 0));
    EXPECT_EQ(capture.Text(), "");
}

TEST(FlashLog, TwoProcessesNeverInterleaveTheirLines) {
    constexpr int kRecordsEach = 400;
    TempDir dir;
    const std::string path = dir.File("FLASH.LOG");
    // Long names make a torn record likely if a record were written in pieces.
    const std::string names[2] = {std::string(3000, 'a') + ".hex", std::string(3000, 'b') + ".hex"};
    pid_t children[2];
    for (int child = 0; child < 2; ++child) {
        children[child] = fork();
        ASSERT_GE(children[child], 0);
        if (children[child] == 0) {
            CFlashLog log(path.c_str());
            bool allWritten = true;
            for (int i = 0; i < kRecordsEach; ++i) {
                allWritten = log.Append(names[child].c_str(), static_cast<uint16_t>(i), "01.01.24",
                                        "02.01.24", static_cast<uint8_t>(child), 0) &&
                             allWritten;
            }
            _exit(allWritten ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    std::istringstream lines(ReadFile(path));
    std::string line;
    int seen[2] = {0, 0};
    while (std::getline(lines, line)) {
        const int child = line[0] == 'a' ? 0 : 1;
        char expected[64];
        std::snprintf(expected, sizeof expected, " %4X 01.01.24 02.01.24 %2X        0", seen[child],
                      child);
        ASSERT_EQ(line, names[child] + expected);
        ++seen[child];
    }
    EXPECT_EQ(seen[0], kRecordsEach);
    EXPECT_EQ(seen[1], kRecordsEach);
}

}  // namespace
}  // namespace orv::test
