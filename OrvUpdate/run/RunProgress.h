#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "OrvUpdate/run/Schedule.h"

namespace orv::update {

// On a terminal, standard error shows one line per route at work (its board and the tool's
// latest message: the step, the sub-block, the wait) and the count of boards done, redrawn a
// few times a second. Nothing is drawn when standard error is not a terminal.
class RunProgress {
  public:
    RunProgress(const std::vector<Route>& routes, size_t boardCount);
    ~RunProgress();
    RunProgress(const RunProgress&) = delete;
    RunProgress& operator=(const RunProgress&) = delete;

    void Started(size_t route, const std::string& board, const std::string& logPath);
    void Finished(size_t route);

  private:
    struct Activity {
        std::string board;
        std::string logPath;
    };
    void DrawUntilStopped();
    void Draw();

    const std::vector<Route>& routes_;
    size_t boardCount_;
    std::mutex mutex_;
    std::vector<Activity> activities_;
    size_t done_ = 0;
    std::atomic<bool> stop_{false};
    std::thread drawer_;
};

}  // namespace orv::update
