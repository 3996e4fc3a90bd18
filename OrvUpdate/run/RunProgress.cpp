#include "OrvUpdate/run/RunProgress.h"

#include "OrvUpdate/run/ToolStep.h"
#include "os/Clock.h"
#include "os/Console.h"
#include "os/TerminalEscapes.h"

namespace orv::update {
namespace {
constexpr uint32_t kRedrawMs = 200;
constexpr size_t kWidth = 100;  // keeps each line on one terminal row
}  // namespace

RunProgress::RunProgress(const std::vector<Route>& routes, size_t boardCount)
    : routes_(routes), boardCount_(boardCount), activities_(routes.size()) {
    if (ProgressShown()) {
        EnableTerminalEscapes();
        drawer_ = std::thread([this] { DrawUntilStopped(); });
    }
}

RunProgress::~RunProgress() {
    stop_ = true;
    if (drawer_.joinable()) {
        drawer_.join();
        ConsoleErrorPrintf("\x1b[J");
    }
}

void RunProgress::Started(size_t route, const std::string& board, const std::string& logPath) {
    const std::lock_guard<std::mutex> lock(mutex_);
    activities_[route] = {board, logPath};
}

void RunProgress::Finished(size_t route) {
    const std::lock_guard<std::mutex> lock(mutex_);
    activities_[route] = {};
    ++done_;
}

void RunProgress::DrawUntilStopped() {
    while (!stop_) {
        Draw();
        SleepMs(kRedrawMs);
    }
}

void RunProgress::Draw() {
    std::vector<std::string> lines;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        for (size_t r = 0; r < activities_.size(); ++r) {
            if (!activities_[r].board.empty()) {
                lines.push_back(routes_[r].name + ": " + activities_[r].board + ": " +
                                CurrentActivity(activities_[r].logPath));
            }
        }
        lines.push_back(std::to_string(done_) + " of " + std::to_string(boardCount_) +
                        " boards done");
    }
    std::string frame;
    for (std::string& line : lines) {
        line.resize(std::min(line.size(), kWidth));
        frame += "\r" + line + "\x1b[K\n";
    }
    // Lines left over from a longer frame are cleared, and the cursor goes back to the top.
    frame += "\x1b[J";
    frame += "\x1b[" + std::to_string(lines.size()) + "A";
    ConsoleErrorPrintf("%s", frame.c_str());
}

}  // namespace orv::update
