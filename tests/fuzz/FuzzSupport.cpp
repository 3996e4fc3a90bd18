#include "FuzzSupport.h"

#include "canlink/SocketcandText.h"

#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>

#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace orv::fuzz {
namespace {

// Every command code the gateway knows (transport/GatewayCodes.h), reserved ones aside.
constexpr uint32_t kCommands[] = {100, 108, 109, 200, 201, 202, 203, 204, 205, 206,
                                  207, 208, 209, 210, 212, 213, 215, 217, 218};
constexpr size_t kCommandCount = std::size(kCommands);

const char* ScratchDirectory() {
    // Plain characters, not a string: the removal at exit runs after static objects are gone.
    // Memory-backed when the machine has it: a file is written for every input.
    static char directory[] = "/dev/shm/orvfuzz-XXXXXX";
    static const bool made = [] {
        if (access("/dev/shm", W_OK) != 0)
            std::memcpy(directory, "/tmp/orvfuzz-XXXXXX", sizeof "/tmp/orvfuzz-XXXXXX");
        if (mkdtemp(directory) == nullptr)
            std::abort();
        return std::atexit([] {
                   std::error_code ignored;
                   std::filesystem::remove_all(directory, ignored);
               }) == 0;
    }();
    return made ? directory : nullptr;
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
    const size_t taken = std::min(count, Remaining());
    std::string piece(reinterpret_cast<const char*>(data_ + position_), taken);
    position_ += taken;
    return piece;
}

std::string FuzzInput::Piece(size_t maxCount) {
    return Bytes(Byte() % (maxCount + 1));
}

std::vector<std::string> FuzzInput::Words(char separator) {
    std::vector<std::string> words(1);
    for (const char c : Rest())
        c == separator ? words.emplace_back() : words.back() += c;
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

int FuzzEngine::Answer() {
    const std::string bytes = input_.Piece(48);
    adapter->OnReceiveBytes(reinterpret_cast<const uint8_t*>(bytes.data()),
                            static_cast<int>(bytes.size()));
    // Another node's frame after every answer keeps the receive event set, so that a wait ends
    // on the clock rather than on the wall.
    const CanOpenLibrary::FrameRecord other{0x7FF, 0, {}};
    frameCallback(reinterpret_cast<const unsigned char*>(&other));
    return input_.Byte() & 1;
}

void HoldReplyTimeoutAtZero(CCcbMessage& request) {
    // Whatever the data length, the adapter reads the parameters where they stand.
    if (request.command == CCB_CMD_CONFIGURE || request.command == CCB_CMD_BOOT_INIT)
        std::memset(request.data + offsetof(BootInitParams, replyTimeoutMs), 0, sizeof(uint32_t));
}

void InstallFuzzClock() {
    static FuzzClock clock;
    SetClock(&clock);
}

std::string ScratchFile(const std::string& name, const std::string& content) {
    const std::string path = std::string(ScratchDirectory()) + "/" + name;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(content.data(), 1, content.size(), file) != content.size())
        std::abort();
    std::fclose(file);
    return path;
}

void ForEachSocketcandMessage(FuzzInput& input,
                              const std::function<void(const std::string&)>& take) {
    SocketcandSplitter splitter;
    while (!input.Empty()) {
        const std::string read = input.Piece(64);
        splitter.Feed(read.data(), read.size());
        while (const std::optional<std::string> message = splitter.Next())
            take(*message);
    }
}

}  // namespace orv::fuzz
