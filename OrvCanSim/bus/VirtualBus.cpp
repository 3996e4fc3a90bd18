#include "OrvCanSim/bus/VirtualBus.h"

#include <algorithm>

#include "OrvCanSim/bus/CanBitTiming.h"
#include "OrvCanSim/bus/FrameText.h"
#include "OrvCanSim/bus/SimLog.h"

namespace orv::sim {
namespace {

// Enough for every node to have a sub-block in flight; a client that sends faster waits.
constexpr size_t kQueueLimit = 1024;

}  // namespace

VirtualBus::VirtualBus(const BusSettings& settings)
    : settings_(settings), random_(settings.seed), thread_([this] { Run(); }) {
    busThreadId_ = thread_.get_id();
}

VirtualBus::~VirtualBus() {
    Stop();
}

int VirtualBus::Attach(BusNode* node) {
    std::lock_guard<std::mutex> lock(nodesMutex_);
    const int port = nextPort_++;
    nodes_[port] = node;
    return port;
}

void VirtualBus::Detach(int port) {
    std::lock_guard<std::mutex> lock(nodesMutex_);
    nodes_.erase(port);
}

void VirtualBus::SetObserver(std::function<void(const CanFrame&, WallTime)> observer) {
    std::lock_guard<std::mutex> lock(nodesMutex_);
    observer_ = std::move(observer);
}

bool VirtualBus::Transmit(int port, const CanFrame& frame, std::chrono::milliseconds delay) {
    CanFrame clean = frame;
    clean.id &=
        (frame.id & kExtendedFrame) != 0 ? kExtendedFrame | kExtendedIdMask : kStandardIdMask;
    clean.length = std::min<uint8_t>(clean.length, 8);
    std::unique_lock<std::mutex> lock(queueMutex_);
    if (std::this_thread::get_id() != busThreadId_) {
        queueChanged_.wait(lock, [this] { return stopping_ || queue_.size() < kQueueLimit; });
    }
    if (stopping_) {
        return false;
    }
    const auto due = std::chrono::steady_clock::now() + delay;
    queue_.emplace(QueueKey{due, nextSequence_++}, Pending{port, clean, due});
    queueChanged_.notify_all();
    return true;
}

void VirtualBus::Stop() {
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        stopping_ = true;
        queue_.clear();
    }
    queueChanged_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

// Waits for the earliest due frame; false when the bus stops.
bool VirtualBus::NextFrame(Pending& next) {
    std::unique_lock<std::mutex> lock(queueMutex_);
    while (!stopping_) {
        if (queue_.empty()) {
            queueChanged_.wait(lock);
            continue;
        }
        const auto due = queue_.begin()->first.first;
        if (due > std::chrono::steady_clock::now()) {
            queueChanged_.wait_until(lock, due);
            continue;
        }
        next = queue_.begin()->second;
        queue_.erase(queue_.begin());
        queueChanged_.notify_all();
        return true;
    }
    return false;
}

bool VirtualBus::Lost() {
    if (settings_.lossRate <= 0.0) {
        return false;
    }
    // The top 53 bits of the generator as a fraction: the same on every platform for a seed.
    const double draw = static_cast<double>(random_() >> 11) * 0x1.0p-53;
    return draw < settings_.lossRate;
}

void VirtualBus::Run() {
    Pending next{};
    while (NextFrame(next)) {
        if (settings_.bitrate != 0) {
            // A frame starts when it was due or when the bus came free, not when this thread
            // woke up: wake-up latency must not add up over a burst.
            const auto start = std::max(next.due, busFreeAt_);
            busFreeAt_ = start + FrameDuration(next.frame, settings_.bitrate);
            std::this_thread::sleep_until(busFreeAt_);
        }
        if (Lost()) {
            SimLog("bus: frame %s lost", FormatCanId(next.frame).c_str());
            continue;
        }
        const WallTime now = std::chrono::system_clock::now();
        std::lock_guard<std::mutex> lock(nodesMutex_);
        if (observer_) {
            observer_(next.frame, now);
        }
        for (const auto& [port, node] : nodes_) {
            if (port != next.sender) {
                node->Deliver(next.frame, now);
            }
        }
    }
}

}  // namespace orv::sim
