#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace orv::sim::test {

// While alive, the simulator's log lines are kept here instead of going to standard error.
class SimLogCapture {
  public:
    SimLogCapture();
    ~SimLogCapture();
    SimLogCapture(const SimLogCapture&) = delete;
    SimLogCapture& operator=(const SimLogCapture&) = delete;

    std::vector<std::string> Lines() const;

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::function<void(const std::string&)> previous_;
};

}  // namespace orv::sim::test
