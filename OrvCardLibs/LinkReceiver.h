#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "canlink/CanLink.h"

namespace orv {

namespace cardlibs {

// A received frame with the time it arrived, in microseconds since the link was opened.
struct ReceivedFrame {
    CanFrame frame;
    uint64_t timestampUs = 0;
};

// The CAN link a driver library carries its frames over, chosen by the environment variable
// ORV_CAN_LINK, with a thread that queues what the link receives.
class LinkReceiver {
  public:
    // Null when the variable is missing or the link cannot be reached; says why on standard
    // error, prefixed with the library's name.
    static std::unique_ptr<LinkReceiver> OpenFromEnvironment(const char* libraryName,
                                                             size_t capacity);

    LinkReceiver(std::unique_ptr<CanLink> link, size_t capacity);
    ~LinkReceiver();
    LinkReceiver(const LinkReceiver&) = delete;
    LinkReceiver& operator=(const LinkReceiver&) = delete;

    bool Send(const CanFrame& frame);
    bool Take(ReceivedFrame& received);
    void Clear();
    bool Empty() const;
    // Frames arriving while not accepting are dropped; so are those beyond the capacity.
    void SetAccepting(bool accepting);
    // Called on the receiving thread after each queued frame, without any lock held.
    void SetArrivalHandler(std::function<void()> handler);

  private:
    void Receive();

    std::unique_ptr<CanLink> link_;
    const size_t capacity_;
    mutable std::mutex mutex_;
    std::deque<ReceivedFrame> queue_;
    bool accepting_ = true;
    std::function<void()> onArrival_;
    std::thread thread_;
};

}  // namespace cardlibs

}  // namespace orv
