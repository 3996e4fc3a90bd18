#include "FuzzSupport.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "transport/GatewayCodes.h"

namespace orv::fuzz {
namespace {

constexpr uint32_t kCommands[] = {
    CCB_CMD_OPEN,
    CCB_CMD_RESET,
    CCB_CMD_SEND_FRAME,
    CCB_CMD_BOOT_INIT,
    CCB_CMD_WRITE_SUBBLOCK,
    CCB_CMD_ABORT,
    CCB_CMD_WRITE_ENABLE,
    CCB_CMD_READ_CODE,
    CCB_CMD_JUMP_TO_APP,
    CCB_CMD_FINALIZE,
    CCB_CMD_GET_STATUS,
    CCB_CMD_GET_INFO,
    CCB_CMD_VALIDATE,
    CCB_CMD_PROGRAM_SUBBLOCK,
    CCB_CMD_SELECT_VARIANT_1,
    CCB_CMD_SELECT_VARIANT_2,
    CCB_CMD_SEND_DATA,
    CCB_CMD_INIT_EXT_INFO,
    CCB_CMD_CONFIGURE,
};
constexpr size_t kCommandCount = sizeof kCommands / sizeof kCommands[0];

const char* ScratchDirectory() {
    // Plain characters, not a string: the removal at exit runs after static objects are gone.
    // Memory-backed when the machine has it: a file is written for every input.
    static char directory[] = "/dev/shm/orvfuzz-XXXXXX";
    static const bool made = [] {
        if (access("/dev/shm", W_OK) != 0) {
            std::memcpy(directory, "/tmp/orvfuzz-XXXXXX", sizeof "/tmp/orvfuzz-XXXXXX");
        }
        if (mkdtemp(directory) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        return std::atexit([] {
                   std::error_code ignored;
                   std::filesystem::remove_all(directory, ignored);
               }) == 0;
    }();
    (void)made;
    return directory;
}

}  // namespace

uint8_t FuzzInput::Byte() {
    return Empty() ? 0 : data_[position_++];
}

uint16_t FuzzInput::U16() {
    const uint8_t low = Byte();
    return static_cast<uint16_t>(low | Byte() << 8);
}

uint32_t FuzzInput::U32() {
    const uint16_t low = U16();
    return low | static_cast<uint32_t>(U16()) << 16;
}

std::string FuzzInput::Bytes(size_t count) {
    const size_t taken = count < Remaining() ? count : Remaining();
    std::string piece(reinterpret_cast<const char*>(data_ + position_), taken);
    position_ += taken;
    return piece;
}

std::string FuzzInput::Piece(size_t maxCount) {
    return Bytes(Byte() % (maxCount + 1));
}

std::string FuzzInput::Rest() {
    return Bytes(Remaining());
}

std::vector<std::string> FuzzInput::Words(char separator) {
    std::vector<std::string> words(1);
    for (const char c : Rest()) {
        if (c == separator) {
            words.emplace_back();
        } else {
            words.back() += c;
        }
    }
    return words;
}

void FuzzInput::Request(CCcbMessage& request) {
    const uint8_t choice = Byte();
    const uint32_t command = choice < 2 * kCommandCount ? kCommands[choice % kCommandCount] : U32();
    const std::string data = Bytes(U16() % (CCcbMessage::kMaxData + 1));
    request.Clear();
    request.SetData(data.data(), static_cast<uint32_t>(data.size()));
    request.command = command;
}

void InstallFuzzClock() {
    static FuzzClock clock;
    SetClock(&clock);
}

std::string ScratchPath(const std::string& name) {
    return std::string(ScratchDirectory()) + "/" + name;
}

void WriteScratchFile(const std::string& path, const std::string& content) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(content.data(), 1, content.size(), file) != content.size()) {
        std::perror(path.c_str());
        std::abort();
    }
    std::fclose(file);
}

}  // namespace orv::fuzz
