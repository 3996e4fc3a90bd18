#include "sim/GatewayServer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "BoardFrames.h"
#include "SimLogCapture.h"
#include "TcpClient.h"
#include "sim/BoardNode.h"
#include "sim/BusPort.h"
#include "support/FakeClock.h"
#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace orv::sim::test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using Bytes = std::vector<uint8_t>;

BoardConfig Board(BoardKind kind, const std::string& spec) {
    BoardConfig config;
    EXPECT_EQ(ParseBoardSpec(kind, spec, config), "");
    return config;
}

Bytes SubblockPayload(uint8_t page, uint16_t address, const Bytes& data) {
    SubblockDescriptor descriptor;
    descriptor.page = page;
    descriptor.address = address;
    descriptor.length = static_cast<uint16_t>(data.size());
    descriptor.checksum = Checksum(data);
    Bytes payload(sizeof descriptor + data.size());
    std::memcpy(payload.data(), &descriptor, sizeof descriptor);
    std::copy(data.begin(), data.end(), payload.begin() + sizeof descriptor);
    return payload;
}

// One gateway on a bus with a PUC (node 12) and an HT board (node 30), both in their boot
// loaders. The adapter's pauses pass at once; its waits for answers are real.
class GatewayTest : public testing::Test {
  protected:
    // The reply status; the reply itself stays in reply_.
    uint32_t Command(uint32_t command, const Bytes& payload = {}) {
        EXPECT_TRUE(GatewayExchange(client_, GatewayRequest(command, payload), reply_));
        EXPECT_EQ(reply_.command, command);
        EXPECT_EQ(reply_.length, CCcbMessage::kHeaderSize + reply_.dataLength);
        return reply_.status;
    }
    Bytes ReplyData() const { return Bytes(reply_.data, reply_.data + reply_.dataLength); }

    SimLogCapture log_;
    orv::test::FakeClock clock_;
    VirtualBus bus_{BusSettings{}};
    BoardNode puc_{bus_, Board(BoardKind::Puc, "12,mode=boot"), std::chrono::milliseconds(0)};
    BoardNode ht_{bus_, Board(BoardKind::Ht, "30,mode=boot"), std::chrono::milliseconds(0)};
    GatewayServer gateway_{bus_, 0, "127.0.0.1", 0, 0};
    TcpClient client_{gateway_.Port()};
    CCcbMessage reply_;
};

TEST_F(GatewayTest, AVariantOneDownloadRunsThroughTheGatewayAndReadsBack) {
    const Bytes data = Pattern(2048, 17);
    const uint16_t sum = Checksum(data);
    EXPECT_EQ(Command(CCB_CMD_SELECT_VARIANT_1), CCB_STATUS_OK);
    EXPECT_EQ(Command(CCB_CMD_BOOT_INIT, BootInitPayload(12, 0, 0x2000, 2048, sum)), CCB_STATUS_OK);
    EXPECT_EQ(Command(CCB_CMD_WRITE_SUBBLOCK, SubblockPayload(0, 0x5000, data)), CCB_STATUS_OK);
    EXPECT_EQ(Command(CCB_CMD_GET_STATUS), CCB_STATUS_OK);
    EXPECT_EQ(ReplyData(), Bytes(8, 0));
    EXPECT_EQ(Command(CCB_CMD_WRITE_ENABLE), CCB_STATUS_OK);
    EXPECT_EQ(Command(CCB_CMD_PROGRAM_SUBBLOCK), CCB_STATUS_OK);
    EXPECT_EQ(Command(CCB_CMD_GET_STATUS), CCB_STATUS_OK);
    EXPECT_EQ(ReplyData()[0], 0);

    EXPECT_EQ(Command(CCB_CMD_READ_CODE, {0x60, 0x00, 0x08, 0x50, 0x00, 0, 0, 0}), CCB_STATUS_OK);
    EXPECT_EQ(ReplyData(), Bytes(data.begin() + 8, data.begin() + 16));
    EXPECT_EQ(Command(CCB_CMD_READ_CODE, {0x60, 0x00, 0x00, 0x40, 0x00, 0, 0, 0}), CCB_STATUS_OK);
    EXPECT_EQ(ReplyData(), (Bytes{0xA5, 0xA5, static_cast<uint8_t>(sum >> 8),
                                  static_cast<uint8_t>(sum), 0x20, 0x00, 0xFF, 0xFF}));

    EXPECT_EQ(Command(CCB_CMD_JUMP_TO_APP), CCB_STATUS_OK);
    EXPECT_EQ(Command(CCB_CMD_GET_INFO), CCB_STATUS_NO_REPLY) << "the application runs";
    EXPECT_EQ(Command(CCB_CMD_FINALIZE), CCB_STATUS_OK);
    EXPECT_THAT(log_.Lines(), Contains(HasSubstr("command 210 -> status 100")));
}

TEST_F(GatewayTest, AVariantTwoSubblockWaitsOutTheBusyBitsAndRefusesARepeat) {
    const Bytes data = Pattern(2048, 23);
    EXPECT_EQ(Command(CCB_CMD_SELECT_VARIANT_2), CCB_STATUS_OK);
    EXPECT_EQ(Command(CCB_CMD_BOOT_INIT, BootInitPayload(30, 6, 0x0800, 2048, Checksum(data))),
              CCB_STATUS_OK);
    EXPECT_EQ(Command(CCB_CMD_WRITE_SUBBLOCK, SubblockPayload(6, 0x0800, data)), CCB_STATUS_OK);
    EXPECT_EQ(Command(CCB_CMD_WRITE_SUBBLOCK, SubblockPayload(6, 0x0800, data)),
              CCB_STATUS_SAME_SUBBLOCK);
    EXPECT_EQ(Command(CCB_CMD_WRITE_ENABLE), CCB_STATUS_OK);
    EXPECT_EQ(Command(CCB_CMD_PROGRAM_SUBBLOCK), CCB_STATUS_OK);
    EXPECT_EQ(ReplyData()[1], 0) << "the gateway polled until the programming ended";
    EXPECT_EQ(Command(CCB_CMD_WRITE_ENABLE), CCB_STATUS_OK);
    EXPECT_EQ(Command(CCB_CMD_VALIDATE), CCB_STATUS_OK);
    EXPECT_EQ(Command(CCB_CMD_GET_STATUS), CCB_STATUS_OK);
    EXPECT_EQ(ReplyData()[0], 0);
    EXPECT_EQ(Command(CCB_CMD_READ_CODE, {0x60, 0x00, 0xF8, 0x0F, 0x06, 0, 0, 0}), CCB_STATUS_OK);
    EXPECT_EQ(ReplyData(), Bytes(data.end() - 8, data.end()));
}

TEST_F(GatewayTest, TheGatewayAnswersOpenAndResetItselfAndPutsRawFramesOnTheBus) {
    uint8_t open[267] = {};
    const uint32_t openHeader[2] = {267, CCB_CMD_OPEN};
    std::memcpy(open, openHeader, sizeof openHeader);
    open[11] = 12;
    uint32_t answer[3] = {};
    ASSERT_TRUE(client_.Send(open, sizeof open));
    ASSERT_TRUE(client_.Read(answer, sizeof answer, 5000));
    EXPECT_THAT(answer, testing::ElementsAre(12U, 100U, 0U));
    const uint32_t reset[2] = {8, CCB_CMD_RESET};
    ASSERT_TRUE(client_.Send(reset, sizeof reset));
    ASSERT_TRUE(client_.Read(answer, sizeof answer, 5000));
    EXPECT_THAT(answer, testing::ElementsAre(12U, 108U, 0U));

    BusPort observer(bus_, "observer");
    CanFrameRequest raw;
    raw.nodeId = 30;
    raw.dataLengthCode = 1;
    raw.data[0] = 0xFF;
    ASSERT_TRUE(client_.Send(&raw, sizeof raw));
    ASSERT_TRUE(client_.Read(answer, sizeof answer, 5000));
    EXPECT_THAT(answer, testing::ElementsAre(12U, 109U, 100U));
    CanFrame frame;
    ASSERT_EQ(observer.Receive(frame, 2000), ICanLink::ReceiveResult::Frame);
    EXPECT_EQ(frame.id, 0x21EU);
    EXPECT_EQ(frame.length, 1);
}

TEST_F(GatewayTest, ReservedUnknownAndUnanswerableCommandsGetTheirStatus) {
    EXPECT_EQ(Command(CCB_CMD_RESERVED_211), CCB_STATUS_NOT_EXECUTED);
    EXPECT_EQ(Command(219), CCB_STATUS_NOT_EXECUTED);
    EXPECT_EQ(Command(CCB_CMD_BOOT_INIT, BootInitPayload(12)), CCB_STATUS_NO_VARIANT);
    EXPECT_EQ(Command(CCB_CMD_CONFIGURE, BootInitPayload(50)), CCB_STATUS_OK);
    EXPECT_EQ(Command(CCB_CMD_GET_INFO), CCB_STATUS_NO_REPLY) << "nobody is node 50";
    EXPECT_EQ(Command(CCB_CMD_CONFIGURE, BootInitPayload(12)), CCB_STATUS_OK);
    EXPECT_EQ(Command(CCB_CMD_GET_INFO), CCB_STATUS_OK);
    EXPECT_EQ(ReplyData(), (Bytes{0, '3', '1', '0', '0', 0, 0, 0}));
}

TEST_F(GatewayTest, FramesBetweenCommandsNeverReachTheGateway) {
    EXPECT_EQ(Command(CCB_CMD_CONFIGURE, BootInitPayload(12)), CCB_STATUS_OK);
    constexpr int kFlood = 20000;
    BusPort flooder(bus_, "flooder");
    BusPort witness(bus_, "witness", kFlood);
    CanFrame forged = ToNode(12, {0xEE});
    forged.id = 0x18C;
    for (int i = 0; i < kFlood; ++i) {
        flooder.Send(forged);
    }
    CanFrame frame;
    for (int i = 0; i < kFlood; ++i) {
        ASSERT_EQ(witness.Receive(frame, 5000), ICanLink::ReceiveResult::Frame);
    }
    EXPECT_EQ(Command(CCB_CMD_GET_INFO), CCB_STATUS_OK);
    EXPECT_EQ(ReplyData(), (Bytes{0, '3', '1', '0', '0', 0, 0, 0})) << "not a forged answer";
}

}  // namespace
}  // namespace orv::sim::test
