// Progress needs a terminal, which only a POSIX test can give the download.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "support/NodeGateway.h"

namespace orv::test {
namespace {

using DownloadPucTest = NodeGatewayTest;

// On a terminal the progress shows the sub-block to come and the time left at the pace so far;
// in a child process, as the first look at the terminal decides for the whole process.
TEST_F(DownloadPucTest, ProgressOnATerminalEstimatesTheTimeLeft) {
    PreparePuc("3.10");
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(terminal >= 0 && grantpt(terminal) == 0 && unlockpt(terminal) == 0);
    const int shown = open(ptsname(terminal), O_RDWR | O_NOCTTY);
    const pid_t child = fork();
    if (child == 0) {
        dup2(shown, 2);
        _exit(!ProgressShown() ? 2 : protocol->DownloadPuc(-1) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (WEXITSTATUS(status) == 2)
        GTEST_SKIP() << "this process looked at its terminal before";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    fcntl(terminal, F_SETFL, O_NONBLOCK);
    std::string text(8192, '\0');
    text.resize(static_cast<size_t>(std::max<ssize_t>(0, read(terminal, text.data(), 8192))));
    EXPECT_NE(text.find("\rsub-block 1 of 2 (0 %)\r"), std::string::npos) << text;
    EXPECT_NE(text.find("\rsub-block 2 of 2 (50 %), about 0 s left\r"), std::string::npos);
    EXPECT_NE(text.find("\rprogramming: 12 s left\r"), std::string::npos);
    close(shown);
    close(terminal);
}

}  // namespace
}  // namespace orv::test
