#pragma once

#include <cstdint>
#include <string>

#include "image/TargetMode.h"

namespace orv {

enum CommandCode : int {
    CMD_DOWNLOAD = 1,
    CMD_VERIFY = 4,
    CMD_TO_BOOT = 5,
    CMD_GET_INFO = 6,
    CMD_TO_APP = 7,
    CMD_SCAN = 8,
    CMD_SET_ID = 9,
    CMD_IDENTIFY = 10,
};

// The settings of one run, filled by ParseArguments. Every field starts from a defined value.
struct RunSettings {
    uint8_t ipAddress[4] = {};
    int32_t port = 0;
    int32_t busId = 0;
    int32_t nodeId = 0;
    char hexFileName[260] = {};
    int32_t mode = MODE_HT;
    int32_t command = 0;
    int32_t applNodeId = 0;
    int32_t newNodeId = 0;
    char canCardName[100] = {};
    int32_t useCanCard = 0;
    std::wstring routeLeft;
    std::wstring routeRight;
};

}  // namespace orv
