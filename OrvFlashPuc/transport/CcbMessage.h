#pragma once

#include <cstdint>

namespace orv {

// The gateway command message; also the wire format of the TCP gateway.
class CCcbMessage {
  public:
    static constexpr uint32_t kHeaderSize = 16;
    static constexpr uint32_t kMaxData = 4000;

    uint32_t length = kHeaderSize;
    uint32_t command = 0;
    uint32_t status = 0;
    uint32_t dataLength = 0;
    uint8_t data[kMaxData] = {};

    void SetAll(uint32_t newDataLength, const void* newData, uint32_t newCommand,
                uint32_t newStatus);
    void Clear();
    // Null when the message carries no data.
    const uint8_t* GetData() const;
    uint32_t GetLength() const { return length; }
    void SetData(const void* newData, uint32_t count);
    // Appends up to the free room; with null data the length still grows by that amount.
    void AppendData(const void* moreData, uint32_t count);
};

static_assert(sizeof(CCcbMessage) == CCcbMessage::kHeaderSize + CCcbMessage::kMaxData);

}  // namespace orv
