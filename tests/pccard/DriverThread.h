#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace orv::test {

// A thread of a fake driver library: runs posted work in order, apart from the test's thread.
class DriverThread {
  public:
    DriverThread();
    ~DriverThread();
    DriverThread(const DriverThread&) = delete;
    DriverThread& operator=(const DriverThread&) = delete;

    void Post(std::function<void()> work);
    // Returns once everything posted so far has run.
    void WaitIdle();

  private:
    void Run();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> queue_;
    bool busy_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace orv::test
