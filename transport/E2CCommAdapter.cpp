#include "transport/E2CCommAdapter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "os/Clock.h"
#include "transport/BootLoaderFrames.h"
#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace {

const std::map<uint32_t, std::string> applCommandNames = {
    {0, "APPL_CMD_CREATE"}, {1, "APPL_CMD_ACTIVATE"}, {2, "APPL_CMD_SHUTDOWN"}};
const std::map<uint32_t, std::wstring> applCommandWideNames = {
    {0, L"APPL_CMD_CREATE"}, {1, L"APPL_CMD_ACTIVATE"}, {2, L"APPL_CMD_SHUTDOWN"}};

// A raw frame request is 44 bytes; a little more is copied, the rest ignored.
constexpr int kRawRequestCopy = 48;
// Polls give the node this much longer than a plain reply wait.
constexpr uint32_t kPollExtraMs = 10000;

}  // namespace

const std::map<uint32_t, std::string>& ApplCommandNames() {
    return applCommandNames;
}
const std::map<uint32_t, std::wstring>& ApplCommandWideNames() {
    return applCommandWideNames;
}

CE2CCommAdapter::CE2CCommAdapter(const std::wstring& left, const std::wstring& right)
    : routeLeft(left), routeRight(right) {
    CreateConnection();
}

CE2CCommAdapter::CE2CCommAdapter(std::unique_ptr<orv::ICanLink> link)
    : engine(CanOpenLibrary::CreateCanOpenEngine()) {
    if (engine->Attach(std::move(link)) == 0) {
        StartEngine();
    }
}

CE2CCommAdapter::CE2CCommAdapter(std::unique_ptr<CanOpenLibrary::ICanOpenEngine> givenEngine)
    : engine(std::move(givenEngine)) {
    StartEngine();
}

void CE2CCommAdapter::CreateConnection() {
    TylCommunicationLibraryNG::ICommConnector* created = nullptr;
    TylCommunicationLibraryNG::CreateOrvCommDriverConnector(&created);
    connector.reset(created);
    if (connector == nullptr) {
        std::fprintf(stderr, "Ethernet2CAN: cannot create the communication connector\n");
        return;
    }
    engine = CanOpenLibrary::CreateCanOpenEngine();
    if (engine->Connect(connector.get(), routeLeft, routeRight) != 0) {
        // Standard output carries only the tool's own messages; the reason goes beside them.
        std::fprintf(stderr, "%s\n", engine->LastError().c_str());
        return;
    }
    StartEngine();
}

void CE2CCommAdapter::StartEngine() {
    if (engine == nullptr) {
        return;
    }
    engine->frameCallback = [this](const unsigned char* record) { PushFrame(record); };
    engine->Start();
}

CE2CCommAdapter::~CE2CCommAdapter() {
    // The engine's thread feeds the queue and the event: it must be gone before they are.
    if (engine != nullptr) {
        engine->Stop();
        engine->Join();
        engine->Disconnect();
        engine.reset();
    }
    connector.reset();
}

int CE2CCommAdapter::Open(uint8_t node) {
    if (engine == nullptr) {
        return 1;
    }
    const uint32_t state = 1;
    engine->SetNodeState(&node, &state);
    return 0;
}

int CE2CCommAdapter::SendRaw(const void* request, int requestLength, void* reply, int replyCapacity,
                             uint32_t /*timeoutMs*/) {
    uint8_t copy[kRawRequestCopy] = {};
    if (requestLength > 0) {
        std::memcpy(copy, request, static_cast<size_t>(std::min(requestLength, kRawRequestCopy)));
    }
    if (engine == nullptr) {
        return 1;
    }
    uint16_t base;
    std::memcpy(&base, copy + 9, sizeof base);
    const uint16_t id = static_cast<uint16_t>(copy[8] | base);
    const uint8_t length = copy[11];
    uint8_t scratch[8];
    if (engine->SendCanFrame(&id, copy + 12, &length, scratch) != 0) {
        return 1;
    }
    if (replyCapacity >= kShortReplySize) {
        const uint32_t shortReply[3] = {kShortReplySize, CCB_CMD_SEND_FRAME, CCB_STATUS_OK};
        std::memcpy(reply, shortReply, sizeof shortReply);
    }
    return 0;
}

int CE2CCommAdapter::Reset() {
    return 0;
}

void CE2CCommAdapter::PushFrame(const unsigned char* record) {
    auto copy = std::make_unique<FrameRecord>();
    std::memcpy(copy.get(), record, sizeof(FrameRecord));
    {
        std::lock_guard lock(rxLock);
        rxQueue.push_back(std::move(copy));
    }
    rxEvent.Set();
}

void CE2CCommAdapter::OnReceiveBytes(const uint8_t* bytes, int count) {
    constexpr int kRecord = sizeof(FrameRecord);
    int used = 0;
    if (partialCount > 0 && count > 0) {
        used = std::min(count, kRecord - partialCount);
        std::memcpy(partial + partialCount, bytes, static_cast<size_t>(used));
        partialCount += used;
        if (partialCount == kRecord) {
            PushFrame(partial);
            partialCount = 0;
        }
    }
    for (; count - used >= kRecord; used += kRecord) {
        PushFrame(bytes + used);
    }
    if (count > used) {
        std::memcpy(partial, bytes + used, static_cast<size_t>(count - used));
        partialCount = count - used;
    }
}

int CE2CCommAdapter::WaitForFrame(uint8_t* out, uint8_t node, uint32_t timeoutMs) {
    const uint16_t awaited = static_cast<uint16_t>(node | replyBase);
    uint32_t remaining = timeoutMs;
    uint64_t noted = orv::NowMs();
    ManualResetEvent::WaitResult result = rxEvent.Wait(remaining);
    for (;;) {
        if (result == ManualResetEvent::WaitResult::TimedOut) {
            return 0;
        }
        // Reset before draining: a frame pushed meanwhile sets the event again for the next wait.
        rxEvent.Reset();
        {
            std::lock_guard lock(rxLock);
            while (!rxQueue.empty()) {
                const std::unique_ptr<FrameRecord> frame = std::move(rxQueue.front());
                rxQueue.pop_front();
                if (frame->id == awaited) {
                    std::memcpy(out, frame->data, sizeof frame->data);
                    return 1;
                }
            }
        }
        const uint64_t now = orv::NowMs();
        const double left =
            std::trunc(static_cast<double>(remaining) - static_cast<double>(now - noted));
        if (left < 0) {
            return 0;
        }
        remaining = static_cast<uint32_t>(left);
        noted = now;
        result = rxEvent.Wait(remaining);
    }
}

bool CE2CCommAdapter::SendFrame(const uint8_t* data) {
    if (engine == nullptr) {
        return false;
    }
    const uint16_t id = static_cast<uint16_t>(nodeId | requestBase);
    const uint8_t length = 8;
    uint8_t scratch[8];
    return engine->SendCanFrame(&id, data, &length, scratch) == 0;
}

void CE2CCommAdapter::SendNmt(uint8_t specifier, uint8_t node) {
    if (engine != nullptr) {
        uint8_t scratch[8];
        engine->SendNmt(&specifier, &node, scratch);
    }
}

void CE2CCommAdapter::EmptyQueue() {
    std::lock_guard lock(rxLock);
    rxQueue.clear();
}

void CE2CCommAdapter::PollNode(uint8_t* out, CCcbMessage* reply) {
    EmptyQueue();
    const uint8_t poll[8] = {BOOT_FRAME_POLL};
    SendFrame(poll);
    uint8_t answer[8];
    if (WaitForFrame(answer, nodeId, replyTimeoutMs + kPollExtraMs) == 1) {
        reply->status = CCB_STATUS_OK;
        reply->SetData(answer, sizeof answer);
        std::memcpy(out, answer, sizeof answer);
    } else {
        reply->status = CCB_STATUS_NO_REPLY;
    }
}
