#include "OrvUpdate/run/Schedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

namespace orv::update {
namespace {

std::vector<Board> OnRoutes(const std::vector<std::string>& routes) {
    std::vector<Board> boards(routes.size());
    for (size_t i = 0; i < routes.size(); ++i) {
        boards[i].route = routes[i];
    }
    return boards;
}

TEST(Schedule, GroupsBoardsByTheirRouteAsTheToolReadsItInReleaseOrder) {
    const auto routes = GroupByRoute(OnRoutes({"CCB0", "NICAN", "ccb0", "CCB1", "nican"}));
    ASSERT_EQ(routes.size(), 3u);
    EXPECT_EQ(routes[0].name, "CCB0");
    EXPECT_EQ(routes[0].boards, (std::vector<size_t>{0, 2}));
    EXPECT_EQ(routes[1].boards, (std::vector<size_t>{1, 4}));
    EXPECT_EQ(routes[2].boards, (std::vector<size_t>{3}));
}

// Each route's boards run in order on one thread; no more routes are at work than the jobs.
TEST(Schedule, RunsRoutesAtOnceUpToTheJobsAndTheBoardsOfARouteInOrder) {
    const auto routes = GroupByRoute(OnRoutes({"A", "B", "A", "C", "B", "A"}));
    for (const size_t jobs : {size_t{0}, size_t{1}, size_t{2}}) {
        const int wanted = jobs == 0 ? 3 : static_cast<int>(jobs);
        std::mutex mutex;
        std::vector<std::vector<size_t>> seen(routes.size());
        std::atomic<int> atWork{0};
        std::atomic<int> calls{0};
        std::atomic<int> mostAtWork{0};
        RunRoutes(routes, jobs, [&](size_t board, size_t route) {
            const int now = ++atWork;
            // The first wave waits (at most 5 s) until all its routes are at work together.
            if (calls++ < wanted) {
                for (int i = 0; i < 500 && calls < wanted; ++i) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
            }
            mostAtWork = std::max(mostAtWork.load(), std::max(now, atWork.load()));
            {
                const std::lock_guard<std::mutex> lock(mutex);
                seen[route].push_back(board);
            }
            --atWork;
        });
        for (size_t r = 0; r < routes.size(); ++r) {
            EXPECT_EQ(seen[r], routes[r].boards) << "jobs " << jobs;
        }
        EXPECT_EQ(mostAtWork, wanted) << "jobs " << jobs;
    }
}

}  // namespace
}  // namespace orv::update
