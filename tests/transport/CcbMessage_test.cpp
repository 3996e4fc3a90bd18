#include "transport/CcbMessage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace {

using Bytes = std::vector<uint8_t>;

template <typename Record>
Bytes Head(const Record& record, size_t count = sizeof(Record)) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
    return Bytes(bytes, bytes + count);
}

Bytes Counting(size_t count, uint8_t first) {
    Bytes bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

TEST(CcbMessage, WireLayoutAndDefaults) {
    CCcbMessage message;
    EXPECT_EQ(message.GetLength(), 16u);
    const uint8_t payload[] = {0xAA, 0xBB};
    message.SetAll(2, payload, CCB_CMD_READ_CODE, CCB_STATUS_OK);
    EXPECT_EQ(Head(message, 18),
              (Bytes{18, 0, 0, 0, 204, 0, 0, 0, 100, 0, 0, 0, 2, 0, 0, 0, 0xAA, 0xBB}));
    message.Clear();
    EXPECT_EQ(Head(message, 16), Head(CCcbMessage{}, 16));
    EXPECT_EQ(message.GetData(), nullptr);

    EXPECT_EQ(Head(BootInitParams{}),
              (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF4, 0x01, 0, 0, 0x80, 0x01, 0x00, 0x02}));
    EXPECT_EQ(Head(SubblockDescriptor{}), (Bytes{0, 0, 0, 0, 0, 0, 0, 0xE8, 0x03, 0, 0}));
    CanFrameRequest frame;
    frame.nodeId = 0x12;
    frame.baseId = 0x0200;
    frame.dataLengthCode = 8;
    Bytes frameBytes(44);
    std::memcpy(frameBytes.data(), "\x2C\0\0\0\x6D\0\0\0\x12\0\x02\x08", 12);
    EXPECT_EQ(Head(frame), frameBytes);
}

// The data area holds at most 4000 bytes; null data copies nothing but still takes the room,
// except in SetData, where it empties the message.
TEST(CcbMessage, DataOperationsKeepAtMost4000Bytes) {
    const Bytes first = Counting(5000, 1);
    CCcbMessage m;
    m.SetAll(5000, first.data(), CCB_CMD_BOOT_INIT, 7);
    EXPECT_EQ(Head(m.data, 4000), Bytes(first.begin(), first.begin() + 4000));
    EXPECT_EQ(m.GetLength(), 4016u);
    m.SetData(nullptr, 20);
    EXPECT_EQ(m.GetData(), nullptr);
    m.SetData(first.data() + 100, 3000);
    m.AppendData(first.data(), 2048);
    EXPECT_EQ(m.dataLength, 4000u);
    EXPECT_EQ(Head(m.data[2998], 4), (Bytes{first[3098], first[3099], 1, 2}));
    m.SetData(first.data(), 11);
    m.data[11] = 0;
    m.AppendData(nullptr, 2048);
    EXPECT_EQ(m.GetLength(), 16u + 2059);
    EXPECT_EQ(m.data[11], 0);
}

}  // namespace
