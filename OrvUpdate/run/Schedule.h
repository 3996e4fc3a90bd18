#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "OrvUpdate/release/Release.h"

namespace orv::update {

// The boards reached the same way (the tool's same first argument), in release order.
struct Route {
    std::string name;
    std::vector<size_t> boards;  // indexes into the release's boards
};

std::vector<Route> GroupByRoute(const std::vector<Board>& boards);

// Works through the routes, up to `jobs` of them at once (0: all), the boards of one route one
// after another. Once an interrupt is noted no further board is started; the call returns when
// the boards under way are done. work gets the board's index and the route's.
void RunRoutes(const std::vector<Route>& routes, size_t jobs,
               const std::function<void(size_t board, size_t route)>& work);

}  // namespace orv::update
