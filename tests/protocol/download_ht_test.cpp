#include <algorithm>
#include <cstring>

#include "ProtocolFixture.h"
#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace orv::test {
namespace {

using Trace = std::vector<std::string>;
using DownloadHtTest = ProtocolTest;

TEST_F(DownloadHtTest, EachSubblockIsEnabledSentCheckedAndProgrammedWithLongPausesEveryFifth) {
    gateway.AddNode(5);
    CPucDownloadProtocol& protocol = WithImage(MODE_HT, {{0, 0x11}, {1, 0x22}, {5, 0x33}});
    console.Take();
    EXPECT_TRUE(protocol.DownloadHt());

    Trace expected = {"open 5", "213", "sleep 2000", "200 node 5", "sleep 100", "207", "sleep 100"};
    std::string text =
        "sleeping...\nDnl. initialization: DONE\nsleeping...\nStatus: OK\nsleeping...\n";
    for (const auto& [address, pause] : {std::pair{"0000", 2000}, {"0800", 1000}, {"2800", 2000}}) {
        expected.insert(expected.end(),
                        {"203", "sleep 100", std::string("201 6:") + address, "sleep 100", "207",
                         "203", "sleep " + std::to_string(pause), "210"});
        text +=
            "Write enable DONE\nsleeping...\nSubblock starting at 0x1" + std::string(address) +
            " ... SENT\nsleeping...\nStatus: OK\nsleeping...\nWrite enable DONE\nsleeping...\n" +
            (pause == 2000 ? "sleeping long\n" : "") + "ProgramSubblock DONE\nsleeping...\n";
    }
    expected.insert(expected.end(), {"sleep 1000", "207", "sleep 1000", "203", "sleep 1000", "209",
                                     "sleep 1000", "207", "205", "sleep 1000", "206", "reset"});
    text +=
        "sleeping...\nStatus: OK\nsleeping...\nWrite enable DONE\nsleeping...\n"
        "Validating descriptors DONE\nStatus: OK\nJump to application DONE\nsleeping...\n"
        "Finalize downloading DONE\n";
    EXPECT_EQ(gateway.trace, expected);
    EXPECT_EQ(console.Take(), text);
}

// The raw frames and their 1 ms pauses, counted apart from the rest of the sequence.
Trace WithoutFrames(const Trace& trace) {
    Trace kept;
    std::copy_if(trace.begin(), trace.end(), std::back_inserter(kept), [](const std::string& line) {
        return line.rfind("raw", 0) != 0 && line != "sleep 1";
    });
    return kept;
}

class DownloadHtPdoTest : public ProtocolTest {
  protected:
    // Sub-block 33 of a PDO image: page 1, address 0x0800, 2048 bytes of 0x22 (checksum 0x1000).
    CPucDownloadProtocol& Prepare() {
        gateway.AddNode(5);
        gateway.addressed = 5;
        CPucDownloadProtocol& protocol = WithImage(MODE_HT_PDO, {{33, 0x22}});
        console.Take();
        return protocol;
    }
    std::vector<CanFrameRequest> Frames() const {
        std::vector<CanFrameRequest> frames;
        for (const GatewayCall& call : gateway.CallsOf(CCB_CMD_SEND_FRAME)) {
            EXPECT_EQ(call.payload.size(), sizeof(CanFrameRequest));
            EXPECT_EQ(call.capacity, 12);
            EXPECT_EQ(call.timeoutMs, 200000u);
            CanFrameRequest frame;
            std::memcpy(&frame, call.payload.data(), sizeof frame);
            EXPECT_EQ(frame.nodeId, 5);
            EXPECT_EQ(static_cast<int>(frame.baseId), 0x200);
            frames.push_back(frame);
        }
        return frames;
    }
};

std::vector<uint8_t> Bytes(const CanFrameRequest& frame) {
    return std::vector<uint8_t>(frame.data, frame.data + 8);
}

constexpr const char* kInitialised = "Dnl. initialization: DONE\nDnl. initialization 2: DONE\n";
constexpr const char* kDownloaded =
    "sleeping...\nWrite enable DONE\nSubblock starting at 0x10800 ... SENT\nWrite enable DONE\n"
    "ProgramSubblock DONE\nWrite enable DONE\nValidating descriptors DONE\n"
    "Jump to application DONE\nFinalize downloading DONE\n";

TEST_F(DownloadHtPdoTest, ASubblockTravelsAsOneHeaderAnd293DataFrames) {
    CPucDownloadProtocol& protocol = Prepare();
    EXPECT_TRUE(protocol.DownloadHtPdo());
    EXPECT_EQ(WithoutFrames(gateway.trace),
              (Trace{"200 node 5", "207", "sleep 100", "203", "sleep 10", "sleep 10", "207", "203",
                     "210", "207", "203", "209", "sleep 1000", "207", "sleep 5000", "205",
                     "sleep 1000", "206", "reset"}));
    EXPECT_EQ(std::count(gateway.trace.begin(), gateway.trace.end(), "sleep 1"), 294);

    const std::vector<CanFrameRequest> frames = Frames();
    ASSERT_EQ(frames.size(), 3u + 294u);
    EXPECT_EQ(frames[0].dataLengthCode, 1);
    EXPECT_EQ(Bytes(frames[0]), (std::vector<uint8_t>{0xFF, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Bytes(frames[1]), (std::vector<uint8_t>{0x00, 0x00, 0x08, 0x00, 0x00, 0x08, 0, 0}));
    EXPECT_EQ(Bytes(frames[2]), (std::vector<uint8_t>{0x01, 0x00, 0x00, 0x10, 0x00, 0x08, 0, 0}));
    // Address low, address high, page: not the descriptor's own order.
    EXPECT_EQ(Bytes(frames[3]),
              (std::vector<uint8_t>{0x10, 0x00, 0x08, 0x01, 0x00, 0x08, 0x00, 0x10}));
    EXPECT_EQ(Bytes(frames[4]),
              (std::vector<uint8_t>{0x27, 0x22, 0x22, 0x22, 0x22, 0x22, 0x22, 0x22}));
    EXPECT_EQ(frames[5].data[0], 0x2F);
    EXPECT_EQ(Bytes(frames.back()),
              (std::vector<uint8_t>{0x24, 0x22, 0x22, 0x22, 0x22, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(console.Take(), std::string(kInitialised) + kDownloaded);
}

TEST_F(DownloadHtPdoTest, TheStatusWaitRetriesTenTimesASecondApart) {
    CPucDownloadProtocol& protocol = Prepare();
    gateway.nodes[0].statusByte = 3;
    EXPECT_FALSE(protocol.DownloadHtPdo());
    Trace expected = {"200 node 5", "207"};
    for (int retry = 0; retry < 10; ++retry) {
        expected.insert(expected.end(), {"sleep 1000", "207"});
    }
    EXPECT_EQ(WithoutFrames(gateway.trace), expected);
    EXPECT_EQ(console.Take(), std::string(kInitialised) + "Status: Error 0x3\n");

    // A wait that succeeds on a retry says so; a failed exchange reads as status 0xFF.
    gateway = TestGateway();
    CPucDownloadProtocol& retried = Prepare();
    gateway.faults = {MissingDataFault(CCB_CMD_GET_STATUS, 1),
                      StatusFault(CCB_CMD_GET_STATUS, 101, 2)};
    EXPECT_TRUE(retried.DownloadHtPdo());
    EXPECT_EQ(console.Take(),
              std::string(kInitialised) + "Error: Get status FAILED\nStatus: OK\n" + kDownloaded);
}

TEST_F(DownloadHtPdoTest, AFailedInitialisationSendsNoRawFrame) {
    CPucDownloadProtocol& protocol = Prepare();
    gateway.faults = {StatusFault(CCB_CMD_BOOT_INIT, 104)};
    EXPECT_FALSE(protocol.DownloadHtPdo());
    EXPECT_EQ(gateway.trace, Trace{"200 node 5"});
    EXPECT_EQ(console.Take(), "Dnl. initialization: FAILED\n");
}

TEST_F(DownloadHtPdoTest, OnlyTheFirstRawInitialisationFrameIsJudged) {
    struct Case {
        int step;
        Fault fault;
        bool result;
        std::string text;
    };
    // A transport that writes no reply must not leave success behind from an earlier frame.
    const Case cases[] = {
        {2, Fault{}, true, "Dnl. initialization 2: DONE\n"},
        {2, MissingDataFault(CCB_CMD_SEND_FRAME), false, "Dnl. initialization 2: FAILED\n"},
        {2, StatusFault(CCB_CMD_SEND_FRAME, 101), false, "Dnl. initialization 2: FAILED\n"},
        {2, TransportFault(CCB_CMD_SEND_FRAME), false, "Error in TCP/IP communication\n"},
        {3, StatusFault(CCB_CMD_SEND_FRAME, 101), true, ""},
        {4, MissingDataFault(CCB_CMD_SEND_FRAME), true, ""},
        {4, TransportFault(CCB_CMD_SEND_FRAME), false, "Error in TCP/IP communication\n"},
        {5, TransportFault(CCB_CMD_SEND_FRAME), true, ""},
    };
    CPucDownloadProtocol& protocol = Prepare();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.step);
        protocol.DnlInitialization2(2);
        console.Take();
        gateway.faults = {c.fault};
        EXPECT_EQ(protocol.DnlInitialization2(c.step), c.result);
        EXPECT_EQ(console.Take(), c.text);
    }
    for (const GatewayCall& call : gateway.CallsOf(CCB_CMD_SEND_FRAME)) {
        EXPECT_TRUE(call.replyCleared);
    }
}

TEST_F(DownloadHtPdoTest, AFailedDataFrameEndsTheSubblock) {
    CPucDownloadProtocol& protocol = Prepare();
    protocol.currentSubblock = 33;
    gateway.faults = {TransportFault(CCB_CMD_SEND_FRAME, 3)};
    EXPECT_FALSE(protocol.SendSubblockPdo());
    EXPECT_EQ(gateway.CallsOf(CCB_CMD_SEND_FRAME).size(), 3u);
    EXPECT_EQ(console.Take(), "Subblock starting at 0x10800 ... FAILED\n");
}

}  // namespace
}  // namespace orv::test
