#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <utility>

#include "canlink/CanLink.h"

namespace orv::sim {

using WallTime = std::chrono::system_clock::time_point;

// The bus keeps the two frame formats apart, as SocketCAN does: an identifier with this bit set
// is an extended (29-bit) one, without it a standard (11-bit) one. A board answers standard
// frames only, so an extended frame never equals the identifier it listens to.
constexpr uint32_t kExtendedFrame = 0x80000000;
constexpr uint32_t kStandardIdMask = 0x7FF;
constexpr uint32_t kExtendedIdMask = 0x1FFFFFFF;

// Anything attached to the bus. Deliver runs on the bus thread, for every frame that another
// node sent, in the order the frames went out; it must not block.
class BusNode {
  public:
    virtual ~BusNode() = default;
    virtual void Deliver(const CanFrame& frame, WallTime when) = 0;
};

struct BusSettings {
    uint32_t bitrate = 0;   // 0: frames go out as fast as they come
    double lossRate = 0.0;  // share of frames that no node receives
    uint64_t seed = 1;
};

// One CAN bus. Frames wait in one queue, go out one at a time (paced by their bit time when a
// bit rate is set) and reach every attached node but their sender.
class VirtualBus {
  public:
    explicit VirtualBus(const BusSettings& settings);
    ~VirtualBus();
    VirtualBus(const VirtualBus&) = delete;
    VirtualBus& operator=(const VirtualBus&) = delete;

    // Returns the node's port number, which names it as a sender.
    int Attach(BusNode* node);
    // After Detach returns, the node receives nothing more.
    void Detach(int port);

    // Queues a frame to go out no earlier than delay from now. A sender other than the bus
    // thread waits while the queue is full; false once the bus is stopping.
    bool Transmit(int port, const CanFrame& frame,
                  std::chrono::milliseconds delay = std::chrono::milliseconds(0));

    uint64_t Seed() const { return settings_.seed; }

    // Called on the bus thread for every frame that went out (not for lost ones).
    void SetObserver(std::function<void(const CanFrame&, WallTime)> observer);

    // Ends the bus thread; frames still queued are dropped.
    void Stop();

  private:
    struct Pending {
        int sender;
        CanFrame frame;
        std::chrono::steady_clock::time_point due;
    };
    using QueueKey = std::pair<std::chrono::steady_clock::time_point, uint64_t>;

    void Run();
    bool NextFrame(Pending& next);
    bool Lost();

    const BusSettings settings_;
    std::mt19937_64 random_;

    std::mutex nodesMutex_;  // taken before queueMutex_ when both are needed
    std::map<int, BusNode*> nodes_;
    int nextPort_ = 1;
    std::function<void(const CanFrame&, WallTime)> observer_;

    std::mutex queueMutex_;
    std::condition_variable queueChanged_;
    std::map<QueueKey, Pending> queue_;
    uint64_t nextSequence_ = 0;
    bool stopping_ = false;

    std::chrono::steady_clock::time_point busFreeAt_;
    std::thread thread_;
    std::thread::id busThreadId_;
};

}  // namespace orv::sim
