#pragma once

#include <string>

namespace orv {

// The current time of day for reports, in UTC: "2026-12-07T10:30:12.345Z".
std::string UtcTimestamp();

}  // namespace orv
