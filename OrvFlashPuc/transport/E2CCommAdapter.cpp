#include "transport/E2CCommAdapter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace orv {

namespace {

const std::map<uint32_t, std::string> applCommandNames = {
    {0, "APPL_CMD_CREATE"}, {1, "APPL_CMD_ACTIVATE"}, {2, "APPL_CMD_SHUTDOWN"}};
const std::map<uint32_t, std::wstring> applCommandWideNames = {
    {0, L"APPL_CMD_CREATE"}, {1, L"APPL_CMD_ACTIVATE"}, {2, L"APPL_CMD_SHUTDOWN"}};

// A raw frame request is 44 bytes; a little more is copied, the rest ignored.
constexpr int kRawRequestCopy = 48;

}  // namespace

const std::map<uint32_t, std::string>& ApplCommandNames() {
    return applCommandNames;
}
const std::map<uint32_t, std::wstring>& ApplCommandWideNames() {
    return applCommandWideNames;
}

CE2CCommAdapter::CE2CCommAdapter(const std::wstring& left, const std::wstring& right)
    : CommandExecutingAdapter(kRouteExecution), routeLeft_(left), routeRight_(right) {
    CreateConnection();
}

CE2CCommAdapter::CE2CCommAdapter(std::unique_ptr<CanLink> link)
    : CommandExecutingAdapter(kRouteExecution), engine_(CanOpenLibrary::CreateCanOpenEngine()) {
    if (engine_->Attach(std::move(link)) == 0) {
        StartEngine();
    }
}

CE2CCommAdapter::CE2CCommAdapter(std::unique_ptr<CanOpenLibrary::ICanOpenEngine> givenEngine)
    : CommandExecutingAdapter(kRouteExecution), engine_(std::move(givenEngine)) {
    StartEngine();
}

void CE2CCommAdapter::CreateConnection() {
    TylCommunicationLibraryNG::ICommConnector* created = nullptr;
    TylCommunicationLibraryNG::CreateOrvCommDriverConnector(&created);
    connector_.reset(created);
    if (connector_ == nullptr) {
        std::fprintf(stderr, "Ethernet2CAN: cannot create the communication connector\n");
        return;
    }
    engine_ = CanOpenLibrary::CreateCanOpenEngine();
    if (engine_->Connect(connector_.get(), routeLeft_, routeRight_) != 0) {
        // Standard output carries only the tool's own messages; the reason goes beside them.
        std::fprintf(stderr, "%s\n", engine_->LastError().c_str());
        return;
    }
    StartEngine();
}

void CE2CCommAdapter::StartEngine() {
    if (engine_ == nullptr) {
        return;
    }
    engine_->frameCallback = [this](const unsigned char* record) { PushFrame(record); };
    engine_->Start();
}

CE2CCommAdapter::~CE2CCommAdapter() {
    // The engine's thread feeds the queue and the event: it must be gone before they are.
    if (engine_ != nullptr) {
        engine_->Stop();
        engine_->Join();
        engine_->Disconnect();
        engine_.reset();
    }
    connector_.reset();
}

int CE2CCommAdapter::Open(uint8_t node) {
    if (engine_ == nullptr) {
        return 1;
    }
    const uint32_t state = 1;
    engine_->SetNodeState(&node, &state);
    return 0;
}

int CE2CCommAdapter::SendRaw(const void* request, int requestLength, void* reply, int replyCapacity,
                             uint32_t /*timeoutMs*/) {
    uint8_t copy[kRawRequestCopy] = {};
    if (requestLength > 0) {
        std::memcpy(copy, request, static_cast<size_t>(std::min(requestLength, kRawRequestCopy)));
    }
    if (engine_ == nullptr) {
        return 1;
    }
    uint16_t base;
    std::memcpy(&base, copy + 9, sizeof base);
    const uint16_t id = static_cast<uint16_t>(copy[8] | base);
    const uint8_t length = copy[11];
    uint8_t scratch[8];
    if (engine_->SendCanFrame(&id, copy + 12, &length, scratch) != 0) {
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

bool CE2CCommAdapter::SendToNode(uint16_t id, const Frame& frame) {
    if (engine_ == nullptr) {
        return false;
    }
    const uint8_t length = sizeof frame;
    uint8_t scratch[8];
    return engine_->SendCanFrame(&id, frame, &length, scratch) == 0;
}

void CE2CCommAdapter::SendNmt(uint8_t specifier, uint8_t node) {
    if (engine_ != nullptr) {
        uint8_t scratch[8];
        engine_->SendNmt(&specifier, &node, scratch);
    }
}

}  // namespace orv
