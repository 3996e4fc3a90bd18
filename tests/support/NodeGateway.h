#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "image/ProgramImage.h"
#include "os/Console.h"
#include "protocol/PucDownloadProtocol.h"
#include "support/FakeClock.h"
#include "support/TestFiles.h"
#include "transport/CommAdapter.h"
#include "transport/GatewayCodes.h"

namespace orv::test {

// A boot-loader node as the gateway sees it.
struct BootNode {
    uint8_t bootId = 5;         // answers under this ID while in boot mode
    uint8_t applicationId = 5;  // its application listens for the boot request under this ID
    bool inBootMode = true;
    std::string version = "V3.0";
    std::string identification;  // when set, the information reply is this text instead
    uint8_t statusByte = 0;
    std::vector<uint8_t> memory = std::vector<uint8_t>(CProgramImage::kImageSize, 0xFF);
};

// Spoils the n-th exchange of one command (every one when occurrence is 0): a transport
// failure or a status.
struct Fault {
    uint32_t command = 0;
    unsigned occurrence = 0;
    int transportResult = 0;
    std::optional<uint32_t> status;
    unsigned seen = 0;
};
inline Fault StatusFault(uint32_t command, uint32_t status, unsigned occurrence = 0) {
    return {command, occurrence, 0, status, 0};
}
inline Fault TransportFault(uint32_t command, unsigned occurrence = 0) {
    return {command, occurrence, 7, std::nullopt, 0};
}
std::string HexBytes(const uint8_t* bytes, size_t count);  // " 0A 1B …"

struct GatewayCall {
    uint32_t command;  // also CCB_CMD_OPEN, CCB_CMD_RESET and CCB_CMD_SEND_FRAME
    std::vector<uint8_t> payload;
    uint32_t length;
    int capacity;
    uint32_t timeoutMs;
};

// Carries gateway commands out on boot-loader nodes, records every call and traces every step:
// "open 5", "200 node 5", "201 6:2000" (page:address), "215 95 10 …" (data), "raw 10", "reset".
class NodeGateway : public CCommAdapter {
  public:
    int Open(uint8_t nodeId) override;
    int SendRaw(const void* request, int requestLength, void* reply, int replyCapacity,
                uint32_t timeoutMs) override;
    int Transact(const CCcbMessage* request, CCcbMessage* reply, int replyCapacity,
                 uint32_t timeoutMs) override;
    int Reset() override;

    BootNode& AddNode(uint8_t bootId, const std::string& version = "V3.0");
    std::vector<GatewayCall> CallsOf(uint32_t command) const;
    // The trace without the raw frames and their 1 ms pauses.
    std::string Steps() const;

    std::vector<BootNode> nodes;
    std::vector<Fault> faults;
    std::vector<GatewayCall> calls;
    std::vector<std::string> trace;
    uint8_t addressed = 5;  // the node spoken to; Open, 200 and 218 change it

  private:
    const Fault* FaultFor(uint32_t command);
    void Execute(uint32_t command, const std::vector<uint8_t>& payload, CCcbMessage& reply);
};

class NodeGatewayTest : public ::testing::Test {
  protected:
    // A protocol for node 5 and an image of sub-blocks (index, first byte), loaded at `base`.
    // Each byte is one more than the one before, modulo 251: every frame and every checksum
    // byte differs, so a slipped or swapped byte shows.
    CPucDownloadProtocol& WithImage(TargetMode mode,
                                    const std::vector<std::pair<uint16_t, uint8_t>>& blocks,
                                    uint32_t base = 0);
    CPucDownloadProtocol& WithoutImage(TargetMode mode = MODE_PUC) {
        protocol = std::make_unique<CPucDownloadProtocol>(&gateway, nullptr, 5, mode);
        return *protocol;
    }
    // A fresh node 5 in boot mode with a valid application (checksum 0x1234) and an erased
    // extended block; a PUC download of sub-blocks 10 (0x5000) and 36 (page 6, 0x2000).
    BootNode& PreparePuc(const std::string& version,
                         std::vector<std::pair<uint16_t, uint8_t>> blocks = {{10, 0x11},
                                                                             {36, 0x22}});

    NodeGateway gateway;
    LoggingClock clock{gateway.trace};
    ConsoleCapture console;
    TempDir dir;
    std::unique_ptr<CProgramImage> image;
    std::unique_ptr<CPucDownloadProtocol> protocol;
};

}  // namespace orv::test
