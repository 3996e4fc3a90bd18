#pragma once

// Waits for a descriptor to become readable, and lets another thread end every such wait at
// once and for good: a link's Close must unblock the thread that sits in Receive without
// closing the descriptor under its feet.
namespace orv {

class WakeablePoll {
  public:
    enum class Result { Readable, TimedOut, Woken, Failed };

    WakeablePoll();
    ~WakeablePoll();
    WakeablePoll(const WakeablePoll&) = delete;
    WakeablePoll& operator=(const WakeablePoll&) = delete;

    // False when the process had no descriptors left for the wake-up pipe.
    bool Valid() const { return wakeRead_ >= 0; }
    // timeoutMs < 0 waits without limit.
    Result WaitReadable(int fd, int timeoutMs);
    // Every wait after this, and any in progress, returns Woken.
    void Wake();

  private:
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
};

}  // namespace orv
