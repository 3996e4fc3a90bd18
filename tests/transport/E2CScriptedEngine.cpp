#include "E2CScriptedEngine.h"

#include <cstdio>
#include <cstring>

namespace orv::test {

void LoggingClock::SleepMs(uint32_t ms) {
    log_.push_back("sleep " + std::to_string(ms));
    FakeClock::SleepMs(ms);
}

std::string FrameEvent(uint16_t id, const Bytes8& data) {
    char text[64];
    int used = std::snprintf(text, sizeof text, "frame %03x", id);
    for (uint8_t byte : data) {
        used += std::snprintf(text + used, sizeof text - static_cast<size_t>(used), " %02x", byte);
    }
    return text;
}

void ScriptedEngine::On(uint8_t trigger, std::vector<Reply> replies) {
    script_[trigger].push_back(std::move(replies));
}

int ScriptedEngine::SendNmt(const uint8_t* specifier, const uint8_t* nodeId, uint8_t*) {
    char text[32];
    std::snprintf(text, sizeof text, "nmt %02x %02x", *specifier, *nodeId);
    log_.push_back(text);
    return 0;
}

int ScriptedEngine::SendCanFrame(const uint16_t* id, const uint8_t* data, const uint8_t* length,
                                 uint8_t*) {
    Bytes8 bytes{};
    std::memcpy(bytes.data(), data, *length);
    ++sends_;
    const bool fails = failFrom_ > 0 && sends_ >= failFrom_;
    log_.push_back(FrameEvent(*id, bytes) + (fails ? " failed" : ""));
    if (fails) {
        return 1;
    }
    auto queued = script_.find(bytes[0]);
    if (queued == script_.end() || queued->second.empty()) {
        return 0;
    }
    const std::vector<Reply> replies = std::move(queued->second.front());
    queued->second.pop_front();
    for (const Reply& reply : replies) {
        CanOpenLibrary::FrameRecord record;
        record.id = reply.id != 0 ? reply.id : static_cast<uint16_t>((*id & 0x7F) | 0x180);
        record.length = 8;
        std::memcpy(record.data, reply.data.data(), 8);
        frameCallback(reinterpret_cast<const unsigned char*>(&record));
    }
    return 0;
}

}  // namespace orv::test
