#include "transport/CcbMessage.h"

#include <algorithm>
#include <cstring>

namespace orv {

void CCcbMessage::SetAll(uint32_t newDataLength, const void* newData, uint32_t newCommand,
                         uint32_t newStatus) {
    const uint32_t count = std::min(newDataLength, kMaxData);
    if (newData != nullptr) {
        std::memcpy(data, newData, count);
    }
    command = newCommand;
    status = newStatus;
    dataLength = count;
    length = kHeaderSize + count;
}

void CCcbMessage::Clear() {
    length = kHeaderSize;
    command = 0;
    status = 0;
    dataLength = 0;
}

const uint8_t* CCcbMessage::GetData() const {
    return dataLength == 0 ? nullptr : data;
}

void CCcbMessage::SetData(const void* newData, uint32_t count) {
    const uint32_t taken = newData == nullptr ? 0 : std::min(count, kMaxData);
    if (taken > 0) {
        std::memcpy(data, newData, taken);
    }
    dataLength = taken;
    length = kHeaderSize + taken;
}

void CCcbMessage::AppendData(const void* moreData, uint32_t count) {
    const uint32_t room = kMaxData - std::min(dataLength, kMaxData);
    const uint32_t taken = std::min(count, room);
    if (moreData != nullptr && taken > 0) {
        std::memcpy(data + dataLength, moreData, taken);
    }
    dataLength += taken;
    length = kHeaderSize + dataLength;
}

}  // namespace orv
