#include "SimLogCapture.h"

#include "sim/SimLog.h"

namespace orv::sim::test {

SimLogCapture::SimLogCapture()
    : previous_(SetSimLogSink([this](const std::string& line) {
          std::lock_guard<std::mutex> lock(mutex_);
          lines_.push_back(line);
      })) {}

SimLogCapture::~SimLogCapture() {
    SetSimLogSink(previous_);
}

std::vector<std::string> SimLogCapture::Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

}  // namespace orv::sim::test
