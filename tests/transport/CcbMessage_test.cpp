#include "transport/CcbMessage.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace {

std::vector<uint8_t> Counting(size_t count, uint8_t first = 0) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

TEST(CcbMessage, WireLayout) {
    static_assert(offsetof(CCcbMessage, length) == 0);
    static_assert(offsetof(CCcbMessage, command) == 4);
    static_assert(offsetof(CCcbMessage, status) == 8);
    static_assert(offsetof(CCcbMessage, dataLength) == 12);
    static_assert(offsetof(CCcbMessage, data) == 16);
    CCcbMessage message;
    EXPECT_EQ(message.GetLength(), 16u);
    const uint8_t payload[] = {0xAA, 0xBB};
    message.SetAll(2, payload, CCB_CMD_READ_CODE, CCB_STATUS_OK);
    const uint8_t expected[] = {18, 0, 0, 0, 204, 0, 0, 0, 100, 0, 0, 0, 2, 0, 0, 0, 0xAA, 0xBB};
    EXPECT_EQ(std::memcmp(&message, expected, sizeof expected), 0);
}

TEST(CcbMessage, SetAllTakesAtMost4000Bytes) {
    const std::vector<uint8_t> source = Counting(5000, 1);
    CCcbMessage message;
    message.SetAll(5000, source.data(), CCB_CMD_BOOT_INIT, 7);
    EXPECT_EQ(message.command, CCB_CMD_BOOT_INIT);
    EXPECT_EQ(message.status, 7u);
    EXPECT_EQ(message.GetLength(), 4016u);
    EXPECT_EQ(std::memcmp(message.data, source.data(), 4000), 0);

    // Null data: nothing copied, the length still set.
    CCcbMessage empty;
    empty.SetAll(8, nullptr, CCB_CMD_GET_INFO, 0);
    EXPECT_EQ(empty.dataLength, 8u);
    EXPECT_EQ(empty.data[0], 0);
}

TEST(CcbMessage, SetData) {
    const std::vector<uint8_t> source = Counting(5000, 3);
    CCcbMessage message;
    message.SetData(source.data(), 5000);
    EXPECT_EQ(message.dataLength, 4000u);
    EXPECT_EQ(message.GetLength(), 4016u);
    EXPECT_EQ(std::memcmp(message.data, source.data(), 4000), 0);

    message.SetData(source.data(), 11);
    EXPECT_EQ(message.dataLength, 11u);
    EXPECT_EQ(message.GetLength(), 27u);

    message.SetData(nullptr, 20);
    EXPECT_EQ(message.dataLength, 0u);
    EXPECT_EQ(message.GetLength(), 16u);
    EXPECT_EQ(message.GetData(), nullptr);
}

TEST(CcbMessage, AppendData) {
    const std::vector<uint8_t> first = Counting(3000, 0);
    const std::vector<uint8_t> second = Counting(2048, 100);
    CCcbMessage message;
    message.SetData(first.data(), 3000);
    message.AppendData(second.data(), 2048);
    EXPECT_EQ(message.dataLength, 4000u);
    EXPECT_EQ(message.GetLength(), 4016u);
    EXPECT_EQ(std::memcmp(message.data + 3000, second.data(), 1000), 0);
    EXPECT_EQ(message.data[2999], first[2999]);

    // A full message takes nothing more.
    message.AppendData(second.data(), 1);
    EXPECT_EQ(message.dataLength, 4000u);

    // Null data copies nothing but still reserves the room.
    CCcbMessage reserved;
    reserved.SetData(first.data(), 11);
    reserved.AppendData(nullptr, 2048);
    EXPECT_EQ(reserved.dataLength, 2059u);
    EXPECT_EQ(reserved.GetLength(), 2075u);
    EXPECT_EQ(reserved.data[11], 0);
    reserved.AppendData(nullptr, 5000);
    EXPECT_EQ(reserved.dataLength, 4000u);
}

TEST(CcbMessage, Clear) {
    const uint8_t payload[] = {1, 2, 3};
    CCcbMessage message;
    message.SetAll(3, payload, CCB_CMD_GET_STATUS, CCB_STATUS_OK);
    message.Clear();
    EXPECT_EQ(message.GetLength(), 16u);
    EXPECT_EQ(message.command + message.status + message.dataLength, 0u);
    EXPECT_EQ(message.GetData(), nullptr);
}

TEST(GatewayRecords, DefaultsOnTheWire) {
    const BootInitParams params;
    const uint8_t paramsBytes[17] = {0,    0,    0, 0, 0,    0,    0,    0,   0,
                                     0xF4, 0x01, 0, 0, 0x80, 0x01, 0x00, 0x02};
    EXPECT_EQ(std::memcmp(&params, paramsBytes, sizeof paramsBytes), 0);

    const SubblockDescriptor descriptor;
    const uint8_t descriptorBytes[11] = {0, 0, 0, 0, 0, 0, 0, 0xE8, 0x03, 0, 0};
    EXPECT_EQ(std::memcmp(&descriptor, descriptorBytes, sizeof descriptorBytes), 0);

    CanFrameRequest frame;
    frame.nodeId = 0x12;
    frame.baseId = 0x0200;
    frame.dataLengthCode = 8;
    uint8_t frameBytes[44] = {44, 0, 0, 0, 109, 0, 0, 0, 0x12, 0x00, 0x02, 8};
    EXPECT_EQ(std::memcmp(&frame, frameBytes, sizeof frameBytes), 0);
}

}  // namespace
