#include "FlowGateway.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace orv::test {

size_t FlowGateway::Count(uint32_t command) const {
    return static_cast<size_t>(std::count(commands_.begin(), commands_.end(), command));
}

int FlowGateway::SendRaw(const void* request, int /*requestLength*/, void* reply, int replyCapacity,
                         uint32_t /*timeoutMs*/) {
    CanFrameRequest frame;
    std::memcpy(&frame, request, sizeof frame);
    rawFrameHeads_.push_back(frame.data[0]);
    const uint32_t answer[3] = {12, CCB_CMD_SEND_FRAME, CCB_STATUS_OK};
    std::memcpy(reply, answer, std::min<size_t>(sizeof answer, static_cast<size_t>(replyCapacity)));
    return 0;
}

int FlowGateway::Transact(const CCcbMessage* request, CCcbMessage* reply, int replyCapacity,
                          uint32_t /*timeoutMs*/) {
    commands_.push_back(request->command);
    CCcbMessage answer;
    const uint32_t status =
        refused_.count(request->command) != 0 ? CCB_STATUS_NO_REPLY : Carry(*request, answer);
    answer.SetAll(answer.dataLength, answer.data, request->command, status);
    std::memcpy(reply, &answer,
                std::min<size_t>(answer.length, static_cast<size_t>(replyCapacity)));
    return 0;
}

FlowGateway::Board* FlowGateway::Selected(bool inBoot) {
    for (Board& board : boards_) {
        if (board.inBoot == inBoot &&
            (inBoot ? board.bootNode : board.applicationNode) == selected_)
            return &board;
    }
    return nullptr;
}

uint32_t FlowGateway::Carry(const CCcbMessage& request, CCcbMessage& reply) {
    const uint8_t* data = request.data;
    switch (request.command) {
        case CCB_CMD_SELECT_VARIANT_1:
        case CCB_CMD_SELECT_VARIANT_2:
        case CCB_CMD_ABORT:
        case CCB_CMD_FINALIZE:
            return CCB_STATUS_OK;
        case CCB_CMD_CONFIGURE:
            selected_ = data[1];
            return CCB_STATUS_OK;
        case CCB_CMD_BOOT_INIT:
            selected_ = data[1];
            if (Board* board = Selected(false)) {
                board->inBoot = true;
                return CCB_STATUS_OK;
            }
            break;
        default:
            break;
    }
    Board* board = Selected(true);
    if (board == nullptr)
        return CCB_STATUS_NO_REPLY;
    switch (request.command) {
        case CCB_CMD_GET_INFO:
            reply.SetData(board->bootCodeInfo.data(), 8);
            break;
        case CCB_CMD_GET_STATUS: {
            const uint8_t fine[8] = {};
            reply.SetData(fine, 8);
            break;
        }
        case CCB_CMD_READ_CODE: {
            const uint8_t erased[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
            reply.SetData(erased, 8);
            break;
        }
        case CCB_CMD_JUMP_TO_APP:
            board->inBoot = false;
            break;
        default:
            break;
    }
    return CCB_STATUS_OK;
}

ScopedWorkDir::ScopedWorkDir(const std::string& path) {
    char current[4096];
    if (getcwd(current, sizeof current) == nullptr || chdir(path.c_str()) != 0) {
        throw std::runtime_error("cannot change to " + path);
    }
    previous_ = current;
}

ScopedWorkDir::~ScopedWorkDir() {
    if (chdir(previous_.c_str()) != 0)
        std::terminate();
}

}  // namespace orv::test
