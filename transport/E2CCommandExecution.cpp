// How CE2CCommAdapter carries out each gateway command on the bus itself.
#include <algorithm>
#include <cstring>

#include "os/Clock.h"
#include "transport/BootLoaderFrames.h"
#include "transport/E2CCommAdapter.h"
#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace {

constexpr uint32_t kSubblockDataOffset = sizeof(SubblockDescriptor);
constexpr int kBusyRetries = 25;
constexpr int kProgramPolls = 50;

constexpr uint8_t kAllNodes = 0;

uint16_t LittleU16(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

bool IsCarriedOut(uint32_t command) {
    return command >= CCB_CMD_BOOT_INIT && command <= CCB_CMD_CONFIGURE &&
           command != CCB_CMD_RESERVED_211 && command != CCB_CMD_RESERVED_214 &&
           command != CCB_CMD_RESERVED_216;
}

}  // namespace

int CE2CCommAdapter::Transact(const CCcbMessage* request, CCcbMessage* reply, int /*replyCapacity*/,
                              uint32_t /*timeoutMs*/) {
    reply->Clear();
    reply->command = request->command;
    if (!IsCarriedOut(request->command)) {
        reply->status = CCB_STATUS_NOT_EXECUTED;
        return 0;
    }
    const uint8_t* payload = request->data;
    uint8_t answer[8] = {};
    auto send = [this](std::initializer_list<uint8_t> bytes) {
        uint8_t frame[8] = {};
        std::copy(bytes.begin(), bytes.end(), frame);
        SendFrame(frame);
    };
    reply->status = CCB_STATUS_OK;
    switch (request->command) {
        case CCB_CMD_BOOT_INIT:
            BootInit(request, reply);
            break;
        case CCB_CMD_WRITE_SUBBLOCK:
            WriteSubblock(request, reply);
            break;
        case CCB_CMD_ABORT:
            send({BOOT_FRAME_ABORT});
            break;
        case CCB_CMD_WRITE_ENABLE:
            send({BOOT_FRAME_WRITE_ENABLE, kWriteEnableKey});
            break;
        case CCB_CMD_READ_CODE: {
            uint8_t frame[8];
            std::memcpy(frame, payload, sizeof frame);
            frame[0] = BOOT_FRAME_READ_CODE;
            SendFrame(frame);
            Wait(answer, reply);
            break;
        }
        case CCB_CMD_JUMP_TO_APP:
            send({BOOT_FRAME_JUMP_TO_APP});
            break;
        case CCB_CMD_FINALIZE:
            SendNmt(NMT_START, kAllNodes);
            replyBase = 0;
            requestBase = 0;
            variant = 0;
            break;
        case CCB_CMD_GET_STATUS:
            PollNode(answer, reply);
            break;
        case CCB_CMD_GET_INFO:
            send({BOOT_FRAME_GET_INFO});
            Wait(answer, reply);
            break;
        case CCB_CMD_VALIDATE:
            send({BOOT_FRAME_VALIDATE});
            break;
        case CCB_CMD_PROGRAM_SUBBLOCK:
            ProgramSubblock(reply);
            break;
        case CCB_CMD_SELECT_VARIANT_1:
        case CCB_CMD_SELECT_VARIANT_2:
            SendNmt(NMT_ENTER_PRE_OPERATIONAL, kAllNodes);
            variant = request->command == CCB_CMD_SELECT_VARIANT_1 ? 1 : 2;
            break;
        case CCB_CMD_SEND_DATA:
            // The frame is the first 8 bytes of the data area, whatever the payload's length.
            SendFrame(payload);
            break;
        case CCB_CMD_INIT_EXT_INFO:
            send({BOOT_FRAME_INIT_EXT_INFO});
            break;
        case CCB_CMD_CONFIGURE:
            StoreParameters(payload);
            break;
    }
    return 0;
}

void CE2CCommAdapter::StoreParameters(const uint8_t* payload) {
    BootInitParams params;
    std::memcpy(&params, payload, sizeof params);
    reserved = params.busId;
    nodeId = params.nodeId;
    replyTimeoutMs = params.replyTimeoutMs;
    replyBase = params.replyBase;
    requestBase = params.requestBase;
}

void CE2CCommAdapter::Wait(uint8_t* answer, CCcbMessage* reply) {
    if (WaitForFrame(answer, nodeId, replyTimeoutMs) == 1) {
        reply->status = CCB_STATUS_OK;
        reply->SetData(answer, 8);
    } else {
        reply->status = CCB_STATUS_NO_REPLY;
    }
}

void CE2CCommAdapter::BootInit(const CCcbMessage* request, CCcbMessage* reply) {
    if (variant == 1) {
        BootInitVariant1(request->data);
    } else if (variant == 2) {
        BootInitVariant2(request->data, reply);
    } else {
        variant = 0;
        reply->status = CCB_STATUS_NO_VARIANT;
    }
}

void CE2CCommAdapter::BootInitVariant1(const uint8_t* payload) {
    StoreParameters(payload);
    SendNmt(NMT_ENTER_BOOT_LOADER, nodeId);
    orv::SleepMs(2000);
    uint8_t frame[8] = {BOOT_FRAME_ABORT};
    SendFrame(frame);
    // Whatever the node says after entering its boot loader is of no interest: read it away.
    uint8_t answer[8];
    while (WaitForFrame(answer, nodeId, replyTimeoutMs) == 1) {
    }
    frame[0] = BOOT_FRAME_INIT;
    std::memcpy(frame + 1, payload + 2, 7);
    SendFrame(frame);
}

void CE2CCommAdapter::BootInitVariant2(const uint8_t* payload, CCcbMessage* reply) {
    StoreParameters(payload);
    SendNmt(NMT_ENTER_PRE_OPERATIONAL, kAllNodes);
    SendNmt(NMT_ENTER_BOOT_LOADER, nodeId);
    orv::SleepMs(4000);
    uint8_t frame[8] = {BOOT_FRAME_ABORT};
    SendFrame(frame);
    SendFrame(frame);
    uint8_t answer[8] = {};
    PollNode(answer, reply);
    lastSubblockAddress = 0xFFFFFFFF;
    PutHighByteFirstFrame(frame, BOOT_FRAME_INIT, payload + 2);
    SendFrame(frame);
    orv::SleepMs(1000);
    PollNode(answer, reply);
}

void CE2CCommAdapter::WriteSubblock(const CCcbMessage* request, CCcbMessage* reply) {
    const uint8_t* descriptor = request->data;
    const uint16_t address = LittleU16(descriptor + 1);
    // A length beyond what a message can hold cannot be sent; stop at the end of the data area.
    const uint32_t dataCount =
        std::min<uint32_t>(LittleU16(descriptor + 3), CCcbMessage::kMaxData - kSubblockDataOffset);
    const uint8_t* data = request->data + kSubblockDataOffset;
    uint8_t answer[8] = {};
    uint8_t header[8] = {BOOT_FRAME_SUBBLOCK_HEADER};
    if (variant == 1) {
        std::memcpy(header + 1, descriptor, 7);
        SendFrame(header);
        PollNode(answer, reply);
        orv::SleepMs(300);
        SendSegments(data, dataCount, true);
    } else if (variant == 2) {
        if (address == lastSubblockAddress) {
            reply->status = CCB_STATUS_SAME_SUBBLOCK;
            return;
        }
        lastSubblockAddress = address;
        PutHighByteFirstFrame(header, BOOT_FRAME_SUBBLOCK_HEADER, descriptor);
        SendFrame(header);
        PollNode(answer, reply);
        for (int retry = 0; retry < kBusyRetries && (answer[1] & kBusyBits) != 0; ++retry) {
            orv::SleepMs(200);
            PollNode(answer, reply);
        }
        SendSegments(data, dataCount, false);
    } else {
        reply->status = CCB_STATUS_NO_VARIANT;
    }
}

void CE2CCommAdapter::SendSegments(const uint8_t* data, uint32_t count, bool stopOnFailure) {
    uint8_t toggle = 0;
    for (uint32_t sent = 0; sent < count;) {
        const uint32_t n = std::min(count - sent, kSegmentDataBytes);
        uint8_t segment[8] = {SegmentHeader(toggle, n)};
        std::memcpy(segment + 1, data + sent, n);
        if (!SendFrame(segment) && stopOnFailure) {
            return;
        }
        orv::SleepMs(1);
        sent += n;
        toggle ^= kSegmentToggle;
    }
}

void CE2CCommAdapter::ProgramSubblock(CCcbMessage* reply) {
    const uint8_t frame[8] = {BOOT_FRAME_PROGRAM};
    SendFrame(frame);
    reply->status = CCB_STATUS_OK;
    if (variant != 2) {
        return;
    }
    uint8_t answer[8] = {};
    bool missed = false;
    for (int polls = 0; polls < kProgramPolls; ++polls) {
        PollNode(answer, reply);
        if (reply->status == CCB_STATUS_NO_REPLY) {
            missed = true;
            continue;
        }
        if (missed || (answer[1] & kBusyBits) == 0) {
            return;
        }
        orv::SleepMs(100);
    }
}
