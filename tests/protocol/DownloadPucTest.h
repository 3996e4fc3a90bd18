#pragma once

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "support/NodeGateway.h"

namespace orv::test {

// A PUC download's board and image, for the download table and the progress check.
class DownloadPucTest : public NodeGatewayTest {
  protected:
    // Node 5 in boot mode with a valid application (checksum 0x1234) and an erased extended
    // block; an image with sub-blocks 10 (0x5000) and 36 (page 6, 0x2000).
    BootNode& Prepare(const std::string& version,
                      std::vector<std::pair<uint16_t, uint8_t>> blocks = {{10, 0x11}, {36, 0x22}}) {
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
};

}  // namespace orv::test
