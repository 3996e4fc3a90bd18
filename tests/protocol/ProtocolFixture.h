#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "TestGateway.h"
#include "platform/Console.h"
#include "protocol/PucDownloadProtocol.h"
#include "support/TestFiles.h"

namespace orv::test {

// A gateway with its nodes, a clock whose pauses join the gateway's trace, captured console.
class ProtocolTest : public ::testing::Test {
  protected:
    // A protocol for node 5 over the gateway, with an image of the given used sub-blocks.
    CPucDownloadProtocol& WithImage(TargetMode mode,
                                    const std::vector<std::pair<uint16_t, uint8_t>>& blocks) {
        image = BuildImage(dir, mode, blocks);
        protocol = std::make_unique<CPucDownloadProtocol>(&gateway, image.get(), 5, mode);
        return *protocol;
    }
    CPucDownloadProtocol& WithoutImage(TargetMode mode = MODE_PUC) {
        protocol = std::make_unique<CPucDownloadProtocol>(&gateway, nullptr, 5, mode);
        return *protocol;
    }

    TestGateway gateway;
    TracingClock clock{gateway};
    ConsoleCapture console;
    TempDir dir;
    std::unique_ptr<CProgramImage> image;
    std::unique_ptr<CPucDownloadProtocol> protocol;
};

}  // namespace orv::test
