#include "TestGateway.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "support/HexWriter.h"
#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace orv::test {
namespace {

std::string Hex(const uint8_t* bytes, size_t count) {
    std::string text;
    char pair[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(pair, sizeof pair, " %02X", bytes[i]);
        text += pair;
    }
    return text;
}

std::string Describe(uint32_t command, const std::vector<uint8_t>& payload) {
    std::string line = std::to_string(command);
    char detail[32] = "";
    if ((command == CCB_CMD_BOOT_INIT || command == CCB_CMD_CONFIGURE) && payload.size() >= 2) {
        std::snprintf(detail, sizeof detail, " node %u", payload[1]);
    } else if (command == CCB_CMD_WRITE_SUBBLOCK && payload.size() >= 3) {
        std::snprintf(detail, sizeof detail, " %u:%04X", payload[0], payload[1] | payload[2] << 8);
    } else if (command == CCB_CMD_READ_CODE && payload.size() >= 5) {
        std::snprintf(detail, sizeof detail, " %u:%04X", payload[4], payload[2] | payload[3] << 8);
    } else if (command == CCB_CMD_SEND_DATA) {
        return line + Hex(payload.data(), payload.size());
    }
    return line + detail;
}

uint32_t MemoryOffset(uint8_t page, uint8_t low, uint8_t high) {
    return (page != 0 ? 0x10000u : 0u) + static_cast<uint32_t>(low | high << 8);
}

// Memory accesses wrap at the end of the 128 KiB, as addresses do on the node.
void WriteMemory(BootNode& node, uint32_t offset, const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        node.memory[(offset + i) % node.memory.size()] = bytes[i];
    }
}

}  // namespace

BootNode& TestGateway::AddNode(uint8_t bootId, const std::string& version) {
    BootNode node;
    node.bootId = bootId;
    node.applicationId = bootId;
    node.version = version;
    nodes.push_back(node);
    return nodes.back();
}

std::vector<GatewayCall> TestGateway::CallsOf(uint32_t command) const {
    std::vector<GatewayCall> found;
    for (const GatewayCall& call : calls) {
        if (call.command == command) {
            found.push_back(call);
        }
    }
    return found;
}

const Fault* TestGateway::FaultFor(uint32_t command) {
    const Fault* hit = nullptr;
    for (Fault& fault : faults) {
        if (fault.command != command) {
            continue;
        }
        ++fault.seen;
        if (hit == nullptr && (fault.occurrence == 0 || fault.occurrence == fault.seen)) {
            hit = &fault;
        }
    }
    return hit;
}

BootNode* TestGateway::AddressedBootNode() {
    for (BootNode& node : nodes) {
        if (node.inBootMode && node.bootId == addressed) {
            return &node;
        }
    }
    return nullptr;
}

int TestGateway::Open(uint8_t nodeId) {
    calls.push_back({CCB_CMD_OPEN, {nodeId}, 0, 0, 0});
    trace.push_back("open " + std::to_string(nodeId));
    addressed = nodeId;
    const Fault* fault = FaultFor(CCB_CMD_OPEN);
    return fault != nullptr ? fault->transportResult : 0;
}

int TestGateway::Reset() {
    calls.push_back({CCB_CMD_RESET, {}, 0, 0, 0});
    trace.push_back("reset");
    return 0;
}

int TestGateway::SendRaw(const void* request, int requestLength, void* reply, int replyCapacity,
                         uint32_t timeoutMs) {
    const auto* bytes = static_cast<const uint8_t*>(request);
    const auto* replyBytes = static_cast<const uint8_t*>(reply);
    calls.push_back(
        {CCB_CMD_SEND_FRAME, std::vector<uint8_t>(bytes, bytes + requestLength),
         static_cast<uint32_t>(requestLength), replyCapacity, timeoutMs,
         std::all_of(replyBytes, replyBytes + replyCapacity, [](uint8_t b) { return b == 0; })});
    const auto* frame = static_cast<const CanFrameRequest*>(request);
    trace.push_back("raw" + Hex(frame->data, 1));
    const Fault* fault = FaultFor(CCB_CMD_SEND_FRAME);
    if (fault != nullptr && fault->transportResult != 0) {
        return fault->transportResult;
    }
    if (fault == nullptr || !fault->dropData) {
        const uint32_t answer[3] = {
            kShortReplySize, CCB_CMD_SEND_FRAME,
            fault != nullptr && fault->status ? *fault->status : CCB_STATUS_OK};
        std::memcpy(reply, answer, sizeof answer);
    }
    return 0;
}

int TestGateway::Transact(const CCcbMessage* request, CCcbMessage* reply, int replyCapacity,
                          uint32_t timeoutMs) {
    const std::vector<uint8_t> payload(request->data, request->data + request->dataLength);
    calls.push_back({request->command, payload, request->length, replyCapacity, timeoutMs});
    trace.push_back(Describe(request->command, payload));
    const Fault* fault = FaultFor(request->command);
    if (fault != nullptr && fault->transportResult != 0) {
        return fault->transportResult;
    }
    reply->SetAll(0, nullptr, request->command, CCB_STATUS_OK);
    Execute(request->command, payload, *reply);
    if (fault != nullptr && fault->status) {
        reply->status = *fault->status;
    }
    if (fault != nullptr && fault->dropData) {
        reply->SetData(nullptr, 0);
    }
    return 0;
}

void TestGateway::Execute(uint32_t command, const std::vector<uint8_t>& payload,
                          CCcbMessage& reply) {
    if (command == CCB_CMD_CONFIGURE || command == CCB_CMD_BOOT_INIT) {
        addressed = payload.at(1);
    }
    if (command == CCB_CMD_CONFIGURE || command == CCB_CMD_SELECT_VARIANT_1 ||
        command == CCB_CMD_SELECT_VARIANT_2 || command == CCB_CMD_FINALIZE) {
        return;
    }
    BootNode* node = AddressedBootNode();
    if (node == nullptr) {
        // An application asked to enter its boot loader restarts instead of answering.
        for (BootNode& candidate : nodes) {
            if (command == CCB_CMD_BOOT_INIT && candidate.applicationId == addressed) {
                candidate.inBootMode = true;
            }
        }
        reply.status = CCB_STATUS_NO_REPLY;
        return;
    }
    std::vector<uint8_t> answer;
    switch (command) {
        case CCB_CMD_WRITE_SUBBLOCK: {
            const uint32_t offset = MemoryOffset(payload.at(0), payload.at(1), payload.at(2));
            WriteMemory(*node, offset, payload.data() + 11, payload.size() - 11);
            break;
        }
        case CCB_CMD_READ_CODE: {
            const uint32_t offset = MemoryOffset(payload.at(4), payload.at(2), payload.at(3));
            for (uint32_t i = 0; i < 8; ++i) {
                answer.push_back(node->memory[(offset + i) % node->memory.size()]);
            }
            break;
        }
        case CCB_CMD_SEND_DATA:
            // 0x90 | n writes n bytes at the address; 0xB0 commits the block.
            if ((payload.at(0) & 0xF0) == 0x90) {
                const uint32_t offset = MemoryOffset(0, payload.at(1), payload.at(2));
                WriteMemory(*node, offset, payload.data() + 3, payload[0] & 0x07u);
            }
            break;
        case CCB_CMD_JUMP_TO_APP:
            node->inBootMode = false;
            break;
        case CCB_CMD_GET_STATUS:
            answer = {node->statusByte, 0, 0, 0, 0, 0, 0, 0};
            break;
        case CCB_CMD_GET_INFO:
            answer.assign(8, 0);
            if (node->identification.empty()) {
                std::memcpy(answer.data() + 1, node->version.data(), 4);
                answer[7] = node->hardwareId;
            } else {
                std::memcpy(answer.data(), node->identification.data(),
                            std::min<size_t>(8, node->identification.size()));
            }
            break;
        default:
            break;
    }
    reply.SetData(answer.data(), static_cast<uint32_t>(answer.size()));
}

void TracingClock::SleepMs(uint32_t ms) {
    FakeClock::SleepMs(ms);
    gateway_.trace.push_back("sleep " + std::to_string(ms));
}

std::unique_ptr<CProgramImage> BuildImage(const TempDir& dir, TargetMode mode,
                                          const std::vector<std::pair<uint16_t, uint8_t>>& blocks) {
    HexWriter hex;
    for (const auto& [index, fill] : blocks) {
        hex.Bytes(index * CProgramImage::kSubblockSize,
                  std::vector<uint8_t>(CProgramImage::kSubblockSize, fill), 64);
    }
    const std::string path = dir.File("prog.hex");
    hex.EndOfFile().Save(path);
    return std::make_unique<CProgramImage>(1, 5, path.c_str(), mode, 0);
}

}  // namespace orv::test
