// The Ethernet-to-CAN adapter around its command execution: opening, raw frames, the receive
// store fed as a byte stream, and routes that cannot be reached.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "E2CScriptedEngine.h"
#include "transport/E2CCommAdapter.h"
#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace {

using orv::test::EventLog;
using orv::test::ScriptedEngine;
using Bytes = std::vector<uint8_t>;

struct Fixture {
    EventLog log;
    ScriptedEngine* engine = nullptr;
    std::unique_ptr<CE2CCommAdapter> adapter;

    Fixture() {
        auto owned = std::make_unique<ScriptedEngine>(log);
        engine = owned.get();
        adapter = std::make_unique<CE2CCommAdapter>(std::move(owned));
    }
};

Bytes Record(uint16_t id, uint8_t first) {
    Bytes record(12);
    std::memcpy(record.data(), &id, 2);
    for (int i = 0; i < 8; ++i) {
        record[4 + static_cast<size_t>(i)] = static_cast<uint8_t>(first + i);
    }
    return record;
}

// The first data byte of every queued frame for node 0x12 (the reply base is still 0). A wait
// returns one frame and leaves the event reset, so each wait is preceded by a frame of another
// node that signals again and is dropped.
std::vector<uint8_t> DrainFirstBytes(CE2CCommAdapter& adapter) {
    std::vector<uint8_t> firsts;
    uint8_t data[8];
    const Bytes other = Record(0x55, 0);
    for (;;) {
        adapter.PushFrame(other.data());
        if (adapter.WaitForFrame(data, 0x12, 0) != 1) {
            return firsts;
        }
        firsts.push_back(data[0]);
    }
}

TEST(E2CAdapter, StartsTheGivenEngineAndOpensThroughIt) {
    Fixture f;
    EXPECT_TRUE(f.engine->Started());
    EXPECT_EQ(f.adapter->Open(0x7F), 0);
    EXPECT_EQ(f.engine->NodeStates(), (std::vector<std::pair<uint8_t, uint32_t>>{{0x7F, 1}}));
    EXPECT_EQ(f.adapter->Reset(), 0);
    EXPECT_TRUE(f.log.empty());
}

TEST(E2CAdapter, SendRawSendsTheRequestedFrameAndAnswersLikeAGateway) {
    Fixture f;
    CanFrameRequest request;
    request.nodeId = 0x12;
    request.baseId = 0x200;
    request.dataLengthCode = 3;
    request.data[0] = 0xDE;
    request.data[1] = 0xAD;
    request.data[2] = 0xBE;
    uint32_t reply[4] = {0, 0, 0, 0xCAFE};
    EXPECT_EQ(f.adapter->SendRaw(&request, sizeof request, reply, 12, 20000), 0);
    EXPECT_EQ(f.log, EventLog{"frame 212 de ad be 00 00 00 00 00"});
    EXPECT_EQ(reply[0], 12u);
    EXPECT_EQ(reply[1], 109u);
    EXPECT_EQ(reply[2], 100u);
    EXPECT_EQ(reply[3], 0xCAFEu);

    uint32_t small[2] = {7, 7};
    EXPECT_EQ(f.adapter->SendRaw(&request, sizeof request, small, 8, 20000), 0);
    EXPECT_EQ(small[0], 7u);

    f.engine->FailSendsFrom(1);
    EXPECT_EQ(f.adapter->SendRaw(&request, sizeof request, reply, 12, 20000), 1);
}

TEST(E2CAdapter, SendDataSendsWhatTheDataAreaHoldsBeyondThePayload) {
    Fixture f;
    CCcbMessage request;
    CCcbMessage reply;
    const uint8_t stale[8] = {9, 9, 9, 4, 5, 6, 7, 8};
    request.SetAll(8, stale, CCB_CMD_SEND_DATA, 0);
    request.dataLength = 3;
    request.length = 19;
    request.data[0] = 1;
    request.data[1] = 2;
    request.data[2] = 3;
    EXPECT_EQ(f.adapter->Transact(&request, &reply, 16, 20000), 0);
    EXPECT_EQ(reply.status, 100u);
    EXPECT_EQ(f.log, EventLog{"frame 07f 01 02 03 04 05 06 07 08"});
}

TEST(E2CAdapter, OnReceiveBytesCutsTheStreamIntoRecords) {
    Fixture f;
    Bytes stream;
    for (uint8_t first : {0x10, 0x20, 0x30}) {
        const Bytes record = Record(0x12, first);
        stream.insert(stream.end(), record.begin(), record.end());
    }
    // 5 then 19 bytes: one record from 5 + 7, one whole, nothing kept.
    f.adapter->OnReceiveBytes(stream.data(), 5);
    EXPECT_TRUE(DrainFirstBytes(*f.adapter).empty());
    f.adapter->OnReceiveBytes(stream.data() + 5, 19);
    EXPECT_EQ(DrainFirstBytes(*f.adapter), (std::vector<uint8_t>{0x10, 0x20}));
    // 30 at once: two records, six bytes kept; the rest of the third completes it.
    f.adapter->OnReceiveBytes(stream.data(), 30);
    EXPECT_EQ(DrainFirstBytes(*f.adapter), (std::vector<uint8_t>{0x10, 0x20}));
    f.adapter->OnReceiveBytes(stream.data() + 30, 6);
    EXPECT_EQ(DrainFirstBytes(*f.adapter), (std::vector<uint8_t>{0x30}));
    f.adapter->OnReceiveBytes(nullptr, 0);
    EXPECT_TRUE(DrainFirstBytes(*f.adapter).empty());
}

TEST(E2CAdapter, WaitForFrameDropsOtherNodesAndLeavesTheRestForTheNextSignal) {
    Fixture f;
    for (const Bytes& record : {Record(0x13, 0x10), Record(0x12, 0x20), Record(0x12, 0x30)}) {
        f.adapter->PushFrame(record.data());
    }
    uint8_t data[8] = {};
    EXPECT_EQ(f.adapter->WaitForFrame(data, 0x12, 0), 1);
    EXPECT_EQ(data[0], 0x20);
    // The event was reset before the drain: the frame still queued is seen only once another
    // frame signals.
    EXPECT_EQ(f.adapter->WaitForFrame(data, 0x12, 0), 0);
    const Bytes other = Record(0x13, 0x40);
    f.adapter->PushFrame(other.data());
    EXPECT_EQ(f.adapter->WaitForFrame(data, 0x12, 0), 1);
    EXPECT_EQ(data[0], 0x30);
    f.adapter->PushFrame(other.data());
    EXPECT_EQ(f.adapter->WaitForFrame(data, 0x13, 0), 1);
    EXPECT_EQ(data[0], 0x40);
}

TEST(E2CAdapter, ApplicationCommandTables) {
    const std::map<uint32_t, std::string> narrow = {
        {0, "APPL_CMD_CREATE"}, {1, "APPL_CMD_ACTIVATE"}, {2, "APPL_CMD_SHUTDOWN"}};
    const std::map<uint32_t, std::wstring> wide = {
        {0, L"APPL_CMD_CREATE"}, {1, L"APPL_CMD_ACTIVATE"}, {2, L"APPL_CMD_SHUTDOWN"}};
    EXPECT_EQ(ApplCommandNames(), narrow);
    EXPECT_EQ(ApplCommandWideNames(), wide);
}

struct UnreachableRoute {
    std::wstring left;
    std::wstring right;
    std::string reason;  // the start of the one line on standard error
};

class E2CUnreachableRoute : public testing::TestWithParam<UnreachableRoute> {};

// An adapter whose route failed still exists: Open reports it, frames are skipped and what
// waits for the node ends without an answer; standard output stays untouched.
TEST_P(E2CUnreachableRoute, SaysWhyOnStandardErrorAndAnswersNothing) {
    const UnreachableRoute& route = GetParam();
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    CE2CCommAdapter adapter(route.left, route.right);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, "");
    EXPECT_EQ(err.rfind(route.reason, 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;

    // Connect failed but the engine exists.
    EXPECT_EQ(adapter.Open(0x12), 0);
    CanFrameRequest raw;
    uint8_t reply[12];
    EXPECT_EQ(adapter.SendRaw(&raw, sizeof raw, reply, sizeof reply, 100), 1);
    BootInitParams params;
    params.nodeId = 0x12;
    params.replyTimeoutMs = 5;
    CCcbMessage request;
    CCcbMessage answer;
    request.SetAll(sizeof params, &params, CCB_CMD_CONFIGURE, 0);
    adapter.Transact(&request, &answer, 16, 2);
    request.SetAll(0, nullptr, CCB_CMD_GET_INFO, 0);
    EXPECT_EQ(adapter.Transact(&request, &answer, 24, 20000), 0);
    EXPECT_EQ(answer.status, 101u);
}

INSTANTIATE_TEST_SUITE_P(
    Routes, E2CUnreachableRoute,
    testing::Values(
        UnreachableRoute{L"ORVCAN", L"Application", "Unknown route 'ORVCAN:Application'"},
        UnreachableRoute{L"Ethernet2CAN", L"127.0.0.1:1/can0",
                         "Ethernet2CAN: cannot connect to 127.0.0.1:1"},
        UnreachableRoute{L"ethernet2can", L"127.0.0.1:99999", "Ethernet2CAN: '99999' is no port"},
        UnreachableRoute{L"Ethernet2CAN", L"127.0.0.1/two words",
                         "Ethernet2CAN: 'two words' is no channel name"},
        UnreachableRoute{L"SocketCAN", L"vcan-none", "SocketCAN: "}),
    [](const testing::TestParamInfo<UnreachableRoute>& info) {
        return "Route" + std::to_string(info.index);
    });

TEST(E2CAdapter, WithoutEngineNothingOpensOrGoesOut) {
    CE2CCommAdapter adapter(std::unique_ptr<CanOpenLibrary::ICanOpenEngine>{});
    EXPECT_EQ(adapter.Open(1), 1);
    EXPECT_EQ(adapter.Reset(), 0);
    CanFrameRequest raw;
    uint8_t reply[12];
    EXPECT_EQ(adapter.SendRaw(&raw, sizeof raw, reply, sizeof reply, 100), 1);
    CCcbMessage request;
    CCcbMessage answer;
    request.SetAll(0, nullptr, CCB_CMD_ABORT, 0);
    EXPECT_EQ(adapter.Transact(&request, &answer, 16, 20000), 0);
    EXPECT_EQ(answer.status, 100u);
}

}  // namespace
