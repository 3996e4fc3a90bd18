#pragma once

#include <cstdint>

#include "transport/CcbMessage.h"

namespace orv {

// The one interface through which the boot-loader protocol reaches a CAN bus. All results:
// 0 = success, anything else = failure.
class CCommAdapter {
  public:
    virtual int Open(uint8_t nodeId) = 0;
    virtual int SendRaw(const void* request, int requestLength, void* reply, int replyCapacity,
                        uint32_t timeoutMs) = 0;
    virtual int Transact(const CCcbMessage* request, CCcbMessage* reply, int replyCapacity,
                         uint32_t timeoutMs) = 0;
    virtual int Reset() = 0;
    virtual ~CCommAdapter() = default;
};

}  // namespace orv
