#include "OrvUpdate/run/Schedule.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "os/Interrupt.h"

namespace orv::update {

std::vector<Route> GroupByRoute(const std::vector<Board>& boards) {
    std::vector<Route> routes;
    for (size_t i = 0; i < boards.size(); ++i) {
        const std::string key = RouteKey(boards[i].route);
        auto route = std::find_if(routes.begin(), routes.end(),
                                  [&](const Route& r) { return RouteKey(r.name) == key; });
        if (route == routes.end()) {
            routes.push_back({boards[i].route, {}});
            route = routes.end() - 1;
        }
        route->boards.push_back(i);
    }
    return routes;
}

void RunRoutes(const std::vector<Route>& routes, size_t jobs,
               const std::function<void(size_t board, size_t route)>& work) {
    std::atomic<size_t> nextRoute{0};
    const auto worker = [&] {
        for (size_t r = nextRoute++; r < routes.size(); r = nextRoute++) {
            for (const size_t board : routes[r].boards) {
                if (InterruptRequested()) {
                    return;
                }
                work(board, r);
            }
        }
    };
    const size_t threads = jobs == 0 ? routes.size() : std::min(jobs, routes.size());
    std::vector<std::thread> workers;
    for (size_t i = 0; i < threads; ++i) {
        workers.emplace_back(worker);
    }
    for (std::thread& thread : workers) {
        thread.join();
    }
}

}  // namespace orv::update
