#include "standins/CanOpenEngine.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

namespace CanOpenLibrary {
namespace {

// The boot loaders speak 11-bit identifiers only, and a record carries 16 bits of identifier:
// an extended frame could only alias one of theirs.
constexpr uint32_t kLargestStandardId = 0x7FF;

class CanOpenEngine : public ICanOpenEngine {
  public:
    ~CanOpenEngine() override { Disconnect(); }

    int Connect(TylCommunicationLibraryNG::ICommConnector* connector, const std::wstring& routeLeft,
                const std::wstring& routeRight) override {
        if (connector == nullptr) {
            SetError("no communication connector");
            return 1;
        }
        std::string error;
        std::unique_ptr<orv::CanLink> link = connector->OpenRoute(routeLeft, routeRight, error);
        if (link == nullptr) {
            SetError(error);
            return 1;
        }
        return Attach(std::move(link));
    }

    void Disconnect() override {
        Stop();
        Join();
        link_.reset();
    }

    void Join() override {
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    int Start() override {
        if (link_ == nullptr || thread_.joinable()) {
            return 1;
        }
        running_.store(true);
        thread_ = std::thread([this] { Deliver(); });
        return 0;
    }

    void Stop() override {
        stopping_.store(true);
        if (link_ != nullptr) {
            link_->Close();
        }
    }

    int Attach(std::unique_ptr<orv::CanLink> link) override {
        if (link == nullptr || thread_.joinable()) {
            return 1;
        }
        link_ = std::move(link);
        return 0;
    }

    std::string LastError() const override {
        std::lock_guard<std::mutex> lock(errorMutex_);
        return lastError_;
    }

    bool IsRunning() const override { return running_.load(); }

    int SendNmt(const uint8_t* specifier, const uint8_t* nodeId, uint8_t* scratch) override {
        const uint8_t data[2] = {*specifier, *nodeId};
        return Transmit(0, data, 2, scratch);
    }

    int SendCanFrame(const uint16_t* id, const uint8_t* data, const uint8_t* length,
                     uint8_t* scratch) override {
        if (*length > 8) {
            return 1;
        }
        return Transmit(*id, data, *length, scratch);
    }

    EngineCounters Counters() const override {
        return EngineCounters{sent_.load(), delivered_.load()};
    }

    int SetNodeState(const uint8_t* nodeId, const uint32_t* state) override {
        if (*state != 0) {
            node_.store(*nodeId);
        } else {
            int expected = *nodeId;
            node_.compare_exchange_strong(expected, kNoNode);
        }
        return 0;
    }

  private:
    static constexpr int kNoNode = -1;

    int Transmit(uint32_t id, const uint8_t* data, uint8_t length, uint8_t* scratch) {
        orv::CanFrame frame;
        frame.id = id;
        frame.length = length;
        std::memcpy(frame.data, data, length);
        std::memcpy(scratch, frame.data, sizeof frame.data);
        if (link_ == nullptr || !link_->Send(frame)) {
            return 1;
        }
        sent_.fetch_add(1);
        return 0;
    }

    void Deliver() {
        orv::CanFrame frame;
        for (;;) {
            const orv::CanLink::ReceiveResult result = link_->Receive(frame, -1);
            if (result == orv::CanLink::ReceiveResult::Closed) {
                break;
            }
            if (result == orv::CanLink::ReceiveResult::Timeout || frame.id > kLargestStandardId) {
                continue;
            }
            FrameRecord record;
            record.id = static_cast<uint16_t>(frame.id);
            record.length = frame.length;
            std::memcpy(record.data, frame.data, sizeof record.data);
            if (frameCallback) {
                frameCallback(reinterpret_cast<const unsigned char*>(&record));
            }
            delivered_.fetch_add(1);
        }
        running_.store(false);
        if (!stopping_.load()) {
            ReportLostLink();
        }
    }

    void ReportLostLink() {
        std::string text = "CAN link lost";
        if (const int node = node_.load(); node != kNoNode) {
            text += " while talking to node " + std::to_string(node);
        }
        text += " (" + std::to_string(sent_.load()) + " frames sent, " +
                std::to_string(delivered_.load()) + " received)";
        SetError(text);
        std::fprintf(stderr, "%s\n", text.c_str());
    }

    void SetError(const std::string& error) {
        std::lock_guard<std::mutex> lock(errorMutex_);
        lastError_ = error;
    }

    std::unique_ptr<orv::CanLink> link_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> running_{false};
    std::atomic<uint64_t> sent_{0};
    std::atomic<uint64_t> delivered_{0};
    std::atomic<int> node_{kNoNode};
    mutable std::mutex errorMutex_;
    std::string lastError_;
};

}  // namespace

std::unique_ptr<ICanOpenEngine> CreateCanOpenEngine() {
    return std::make_unique<CanOpenEngine>();
}

}  // namespace CanOpenLibrary
