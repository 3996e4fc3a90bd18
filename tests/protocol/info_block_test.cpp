#include <cstring>

#include "ProtocolFixture.h"
#include "transport/GatewayCodes.h"

namespace orv::test {
namespace {

using Trace = std::vector<std::string>;

class InfoBlockTest : public ProtocolTest {
  protected:
    // Node 5 with a valid application and a filled extended block: a 16-character name without
    // terminator, a modification date, an erased flashing date, version 0x01020304.
    BootNode& Prepare(const std::string& version, uint8_t softCanId) {
        BootNode& node = gateway.AddNode(5, version);
        gateway.addressed = 5;
        const uint8_t head[6] = {0xA5, 0xA5, 0x12, 0x34, 0x50, 0x00};
        std::memcpy(node.memory.data() + 0x4000, head, sizeof head);
        std::memcpy(node.memory.data() + 0x4010, "ABCDEFGHIJKLMNOP01.02.24", 24);
        const uint8_t tail[5] = {0x04, 0x03, 0x02, 0x01, softCanId};
        std::memcpy(node.memory.data() + 0x4030, tail, sizeof tail);
        return node;
    }
    std::vector<std::string> Writes() const {
        Trace writes;
        for (const std::string& line : gateway.trace) {
            if (line.rfind("215", 0) == 0) {
                writes.push_back(line);
            }
        }
        return writes;
    }
};

constexpr const char* kHead =
    "Going to boot mode (for PUC) OK\n"
    "FLASH memory contains valid application flag (0xA5A5)\n"
    "App file check sum: 0x1234\nApp entry address is 0x5000\n";

TEST_F(InfoBlockTest, TheSoftCanIdIsExplainedAndOldBootCodesShowOnlyTheHead) {
    struct Case {
        std::string version;
        uint8_t softCanId;
        std::string ending;
    };
    const std::string chip =
        "Chip content:\n\tFile name       : ABCDEFGHIJKLMNOP\n\tFile mod. date  : 01.02.24\n"
        "\tFile Version    : 0x1020304\n";
    for (const Case& c :
         {Case{"2.00", 0xFF, chip + "\tSoft. CAN ID    : 0xFF - not activated\n"},
          {"V2.0", 0x00, chip + "\tSoft. CAN ID    : 0x0 - hwdID used as BOOT code CAN node ID\n"},
          {"3.00", 0x22, chip + "\tSoft. CAN ID    : 0x22\n"},
          {"1.99", 0x22, ""}}) {
        SCOPED_TRACE(c.version);
        gateway = TestGateway();
        Prepare(c.version, c.softCanId);
        console.Take();
        EXPECT_TRUE(WithoutImage().GetPucInfo(5));
        EXPECT_EQ(console.Take(), "Boot code version: " + c.version +
                                      " Application board hardware ID: 0x11\n" + kHead + c.ending);
        EXPECT_EQ(gateway.trace.front(), "open 127");
        EXPECT_EQ(gateway.trace.back(), "204 0:4048");
    }
}

TEST_F(InfoBlockTest, GetPucInfoFailsWhenTheBlockCannotBeRead) {
    BootNode& node = Prepare("2.00", 0xFF);
    node.memory[0x4000] = 0x00;
    gateway.faults = {StatusFault(CCB_CMD_READ_CODE, 101, 2)};
    EXPECT_FALSE(WithoutImage().GetPucInfo(5));
    EXPECT_EQ(console.Take(),
              "Boot code version: 2.00 Application board hardware ID: 0x11\n"
              "Going to boot mode (for PUC) OK\nFLASH memory contains no application\n"
              "Error: Debug controller FAILED\nCan not get BOOT code info\n");
}

TEST_F(InfoBlockTest, SetBytesWritesFiveBytesPerRequest) {
    BootNode& node = Prepare("2.00", 0xFF);
    CPucDownloadProtocol& protocol = WithImage(MODE_PUC, {{10, 0x11}});
    std::strcpy(image->foundFileName, "ABCDEFGHIJKLMNOPQRST");
    std::strcpy(image->fileDate, "");
    std::strcpy(image->loadDate, "9.9.99");
    protocol.GetBootCodeInfoQuiet();
    gateway.trace.clear();
    EXPECT_TRUE(protocol.SendInfoBlockData());
    EXPECT_EQ(Writes(), (Trace{"215 95 10 40 41 42 43 44 45", "215 95 15 40 46 47 48 49 4A",
                               "215 95 1A 40 4B 4C 4D 4E 4F", "215 91 1F 40 50",
                               "215 95 28 40 39 2E 39 2E 39", "215 91 2D 40 39",
                               "215 94 30 40 00 00 00 00", "215 91 34 40 FF"}));
    // A short text leaves the rest of its field as it was.
    std::strcpy(image->foundFileName, "abc");
    EXPECT_TRUE(protocol.SendInfoBlockData());
    EXPECT_EQ(0, std::memcmp(node.memory.data() + 0x4010, "abcDEFGHIJKLMNOP01.02.249.9.99", 30));
    EXPECT_EQ(console.Take(), "SendInfoBlockData DONE\nSendInfoBlockData DONE\n");

    gateway.trace.clear();
    const uint8_t bytes[2] = {1, 2};
    EXPECT_TRUE(protocol.SetBytes(1, 0x4040, 2, bytes));
    EXPECT_TRUE(protocol.SetInfoBlockByte(0x42));
    EXPECT_TRUE(protocol.SetBytes(0, 0x4040, 0, bytes));
    // Each accepted chunk clears the request, so a request without data follows with none.
    EXPECT_TRUE(protocol.WriteEnable());
    EXPECT_EQ(gateway.trace, (Trace{"215 9A 40 40 01 02", "215 91 11 40 42", "203"}));
    EXPECT_EQ(gateway.calls.back().length, 16u);
}

TEST_F(InfoBlockTest, SetBytesRefusesOldBootCodesAndStopsAtTheFirstRefusedChunk) {
    Prepare("1.00", 0xFF);
    CPucDownloadProtocol& protocol = WithoutImage();
    const uint8_t bytes[12] = {};
    EXPECT_FALSE(protocol.SetBytes(0, 0x4010, 12, bytes));  // no version read yet
    protocol.GetBootCodeInfoQuiet();
    EXPECT_FALSE(protocol.SetBytes(0, 0x4010, 12, bytes));
    EXPECT_EQ(console.Take(),
              "SetBytes - not supported operaion with this version of BOOT code\n"
              "SetBytes - not supported operaion with this version of BOOT code\n");

    gateway.nodes[0].version = "2.00";
    protocol.GetBootCodeInfoQuiet();
    gateway.faults = {StatusFault(CCB_CMD_SEND_DATA, 101, 2)};
    EXPECT_FALSE(protocol.SetBytes(0, 0x4010, 12, bytes));
    EXPECT_EQ(Writes().size(), 2u);
    EXPECT_EQ(console.Take(), "SetBytes: FAILED\n");
}

TEST_F(InfoBlockTest, SetBootNodeIdWritesTheSoftCanIdAndWaitsForTheFlash) {
    BootNode& node = Prepare("2.00", 0xFF);
    EXPECT_TRUE(WithoutImage().SetBootNodeId(0x22));
    EXPECT_EQ(gateway.trace, (Trace{"open 5", "212", "218 node 5", "208", "207", "217",
                                    "215 91 34 40 22", "203", "215 B0", "sleep 3000", "207"}));
    EXPECT_EQ(gateway.CallsOf(CCB_CMD_INIT_EXT_INFO)[0].payload,
              (std::vector<uint8_t>{5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(console.Take(),
              "Boot code version: 2.00 Application board hardware ID: 0x11\nStatus: OK\n"
              "InitExtendedInfoUpdate: DONE\nWrite enable DONE\nFlashExtInfoBlk: DONE\n"
              "Status: OK\n");
    EXPECT_EQ(node.memory[0x4034], 0x22);

    // An old boot code refuses only after the extended-info initialisation went out.
    node.version = "1.00";
    gateway.trace.clear();
    EXPECT_FALSE(WithoutImage().SetBootNodeId(0x22));
    EXPECT_EQ(gateway.trace.back(), "217");
    EXPECT_NE(console.Take().find("InitExtendedInfoUpdate: DONE\n"
                                  "SetBytes - not supported operaion with this version of BOOT "
                                  "code\n"),
              std::string::npos);
}

}  // namespace
}  // namespace orv::test
