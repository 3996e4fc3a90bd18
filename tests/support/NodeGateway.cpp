#include "support/NodeGateway.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "support/HexWriter.h"
#include "transport/GatewayRecords.h"

namespace orv::test {

std::string HexBytes(const uint8_t* bytes, size_t count) {
    std::string text;
    char pair[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(pair, sizeof pair, " %02X", bytes[i]);
        text += pair;
    }
    return text;
}

namespace {

std::string Describe(uint32_t command, const std::vector<uint8_t>& p) {
    char detail[32] = "";
    if ((command == CCB_CMD_BOOT_INIT || command == CCB_CMD_CONFIGURE) && p.size() >= 2) {
        std::snprintf(detail, sizeof detail, " node %u", p[1]);
    } else if (command == CCB_CMD_WRITE_SUBBLOCK && p.size() >= 3) {
        std::snprintf(detail, sizeof detail, " %u:%04X", p[0], p[1] | p[2] << 8);
    } else if (command == CCB_CMD_READ_CODE && p.size() >= 5) {
        std::snprintf(detail, sizeof detail, " %u:%04X", p[4], p[2] | p[3] << 8);
    } else if (command == CCB_CMD_SEND_DATA) {
        return std::to_string(command) + HexBytes(p.data(), p.size());
    }
    return std::to_string(command) + detail;
}

// Memory accesses wrap at the end of the 128 KiB, as addresses do on the node.
uint8_t& At(BootNode& node, uint8_t page, uint8_t low, uint8_t high, size_t i) {
    const uint32_t offset = (page != 0 ? 0x10000u : 0u) + static_cast<uint32_t>(low | high << 8);
    return node.memory[(offset + i) % node.memory.size()];
}

}  // namespace

BootNode& NodeGateway::AddNode(uint8_t bootId, const std::string& version) {
    nodes.emplace_back().version = version;
    nodes.back().bootId = nodes.back().applicationId = bootId;
    return nodes.back();
}

std::vector<GatewayCall> NodeGateway::CallsOf(uint32_t command) const {
    std::vector<GatewayCall> found;
    std::copy_if(calls.begin(), calls.end(), std::back_inserter(found),
                 [command](const GatewayCall& call) { return call.command == command; });
    return found;
}

std::string NodeGateway::Steps() const {
    std::string text;
    for (const std::string& step : trace) {
        if (step.rfind("raw", 0) != 0 && step != "sleep 1")
            text += (text.empty() ? "" : ", ") + step;
    }
    return text;
}

const Fault* NodeGateway::FaultFor(uint32_t command) {
    const Fault* hit = nullptr;
    for (Fault& fault : faults) {
        if (fault.command == command && ++fault.seen > 0 && hit == nullptr &&
            (fault.occurrence == 0 || fault.occurrence == fault.seen))
            hit = &fault;
    }
    return hit;
}

int NodeGateway::Open(uint8_t nodeId) {
    calls.push_back({CCB_CMD_OPEN, {nodeId}, 0, 0, 0});
    trace.push_back("open " + std::to_string(nodeId));
    addressed = nodeId;
    const Fault* fault = FaultFor(CCB_CMD_OPEN);
    return fault != nullptr ? fault->transportResult : 0;
}

int NodeGateway::Reset() {
    calls.push_back({CCB_CMD_RESET, {}, 0, 0, 0});
    trace.push_back("reset");
    return 0;
}

int NodeGateway::SendRaw(const void* request, int requestLength, void* reply, int replyCapacity,
                         uint32_t timeoutMs) {
    const auto* bytes = static_cast<const uint8_t*>(request);
    calls.push_back({CCB_CMD_SEND_FRAME, std::vector<uint8_t>(bytes, bytes + requestLength),
                     static_cast<uint32_t>(requestLength), replyCapacity, timeoutMs});
    trace.push_back("raw" + HexBytes(static_cast<const CanFrameRequest*>(request)->data, 1));
    const Fault* fault = FaultFor(CCB_CMD_SEND_FRAME);
    if (fault != nullptr && fault->transportResult != 0)
        return fault->transportResult;
    const uint32_t answer[3] = {kShortReplySize, CCB_CMD_SEND_FRAME,
                                fault != nullptr && fault->status ? *fault->status : CCB_STATUS_OK};
    std::memcpy(reply, answer, sizeof answer);
    return 0;
}

int NodeGateway::Transact(const CCcbMessage* request, CCcbMessage* reply, int replyCapacity,
                          uint32_t timeoutMs) {
    const std::vector<uint8_t> payload(request->data, request->data + request->dataLength);
    calls.push_back({request->command, payload, request->length, replyCapacity, timeoutMs});
    trace.push_back(Describe(request->command, payload));
    const Fault* fault = FaultFor(request->command);
    if (fault != nullptr && fault->transportResult != 0)
        return fault->transportResult;
    reply->SetAll(0, nullptr, request->command, CCB_STATUS_OK);
    Execute(request->command, payload, *reply);
    if (fault != nullptr && fault->status)
        reply->status = *fault->status;
    return 0;
}

void NodeGateway::Execute(uint32_t command, const std::vector<uint8_t>& payload,
                          CCcbMessage& reply) {
    if (command == CCB_CMD_CONFIGURE || command == CCB_CMD_BOOT_INIT)
        addressed = payload.at(1);
    if (command == CCB_CMD_CONFIGURE || command == CCB_CMD_SELECT_VARIANT_1 ||
        command == CCB_CMD_SELECT_VARIANT_2 || command == CCB_CMD_FINALIZE)
        return;
    const auto found = std::find_if(nodes.begin(), nodes.end(), [this](const BootNode& n) {
        return n.inBootMode && n.bootId == addressed;
    });
    if (found == nodes.end()) {
        // An application asked to enter its boot loader restarts instead of answering.
        for (BootNode& candidate : nodes)
            candidate.inBootMode |=
                command == CCB_CMD_BOOT_INIT && candidate.applicationId == addressed;
        reply.status = CCB_STATUS_NO_REPLY;
        return;
    }
    BootNode& node = *found;
    std::vector<uint8_t> answer;
    if (command == CCB_CMD_WRITE_SUBBLOCK) {
        for (size_t i = 11; i < payload.size(); ++i)
            At(node, payload[0], payload[1], payload[2], i - 11) = payload[i];
    } else if (command == CCB_CMD_READ_CODE) {
        for (size_t i = 0; i < 8; ++i)
            answer.push_back(At(node, payload.at(4), payload.at(2), payload.at(3), i));
    } else if (command == CCB_CMD_SEND_DATA && (payload.at(0) & 0xF0) == 0x90) {
        // 0x90 | n writes n bytes at the address; 0xB0 commits the block.
        for (size_t i = 0; i < (payload[0] & 0x07u); ++i)
            At(node, 0, payload.at(1), payload.at(2), i) = payload.at(3 + i);
    } else if (command == CCB_CMD_JUMP_TO_APP) {
        node.inBootMode = false;
    } else if (command == CCB_CMD_GET_STATUS) {
        answer = {node.statusByte, 0, 0, 0, 0, 0, 0, 0};
    } else if (command == CCB_CMD_GET_INFO) {
        answer = {0, 0, 0, 0, 0, 0, 0, 0x11};
        std::memcpy(answer.data() + 1, node.version.data(), 4);
        if (!node.identification.empty())
            answer.assign(node.identification.begin(), node.identification.end());
        answer.resize(8);
    }
    reply.SetData(answer.data(), static_cast<uint32_t>(answer.size()));
}

CPucDownloadProtocol& NodeGatewayTest::WithImage(
    TargetMode mode, const std::vector<std::pair<uint16_t, uint8_t>>& blocks, uint32_t base) {
    HexWriter hex;
    for (const auto& [index, first] : blocks) {
        std::vector<uint8_t> bytes(CProgramImage::kSubblockSize);
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<uint8_t>(first + i % 251);
        hex.Bytes(base + index * CProgramImage::kSubblockSize, bytes, 64);
    }
    hex.EndOfFile().Save(dir.File("prog.hex"));
    image = std::make_unique<CProgramImage>(1, 5, dir.File("prog.hex").c_str(), mode, base);
    protocol = std::make_unique<CPucDownloadProtocol>(&gateway, image.get(), 5, mode);
    return *protocol;
}

BootNode& NodeGatewayTest::PreparePuc(const std::string& version,
                                      std::vector<std::pair<uint16_t, uint8_t>> blocks) {
    gateway = NodeGateway();
    BootNode& node = gateway.AddNode(5, version);
    const uint8_t head[6] = {0xA5, 0xA5, 0x12, 0x34, 0x50, 0x00};
    std::memcpy(node.memory.data() + 0x4000, head, sizeof head);
    WithImage(MODE_PUC, blocks);
    std::strcpy(image->fileDate, "01.02.24");
    std::strcpy(image->loadDate, "03.04.25");
    console.Take();
    return node;
}

}  // namespace orv::test
