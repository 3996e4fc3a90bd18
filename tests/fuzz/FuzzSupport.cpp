#include "FuzzSupport.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <vector>

#include "OrvCanSim/bus/SimLog.h"
#include "canlink/SocketcandText.h"
#include "os/Clock.h"
#include "os/Console.h"
#include "support/InertCanOpenEngine.h"
#include "transport/GatewayCodes.h"
#include "transport/GatewayRecords.h"

namespace orv::fuzz {
namespace {

// Every command code the gateway knows, reserved ones aside, in numeric order.
const std::vector<uint32_t> kCommands = [] {
    std::vector<uint32_t> codes = {CCB_CMD_OPEN, CCB_CMD_RESET, CCB_CMD_SEND_FRAME};
    for (uint32_t code = CCB_CMD_BOOT_INIT; code <= CCB_CMD_CONFIGURE; ++code)
        if (code != CCB_CMD_RESERVED_211 && code != CCB_CMD_RESERVED_214 &&
            code != CCB_CMD_RESERVED_216)
            codes.push_back(code);
    return codes;
}();

class FuzzClock : public Clock {
  public:
    void SleepMs(uint32_t) override {}
    uint64_t NowMs() override { return now_ += uint64_t{1} << 33; }

  private:
    uint64_t now_ = 0;
};

class FuzzEngine : public orv::test::InertCanOpenEngine {
  public:
    explicit FuzzEngine(FuzzInput& input) : input_(input) {}

    int SendNmt(const uint8_t*, const uint8_t*, uint8_t*) override { return Answer(); }
    int SendCanFrame(const uint16_t*, const uint8_t*, const uint8_t*, uint8_t*) override {
        return Answer();
    }

    CE2CCommAdapter* adapter = nullptr;

  private:
    int Answer() {
        const std::string bytes = input_.Piece(48);
        adapter->OnReceiveBytes(reinterpret_cast<const uint8_t*>(bytes.data()),
                                static_cast<int>(bytes.size()));
        // Another node's frame after every answer keeps the receive event set, so that a wait
        // ends on the clock rather than on the wall.
        const CanOpenLibrary::FrameRecord other{0x7FF, 0, {}};
        frameCallback(reinterpret_cast<const unsigned char*>(&other));
        return input_.Byte() & 1;
    }

    FuzzInput& input_;
};

}  // namespace

std::string FuzzInput::Bytes(size_t count) {
    const size_t taken = std::min(count, Remaining());
    std::string piece(reinterpret_cast<const char*>(data_ + position_), taken);
    position_ += taken;
    return piece;
}

void FuzzInput::Request(CCcbMessage& request) {
    const uint8_t choice = Byte();
    const size_t count = kCommands.size();
    const uint32_t command = choice < 2 * count ? kCommands[choice % count] : U32();
    const std::string data = Bytes(U16() % (CCcbMessage::kMaxData + 1));
    request.Clear();
    request.SetData(data.data(), static_cast<uint32_t>(data.size()));
    request.command = command;
}

bool SameFrame(const CanFrame& a, const CanFrame& b) {
    return a.id == b.id && a.length == b.length && std::equal(a.data, a.data + a.length, b.data);
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

std::unique_ptr<CE2CCommAdapter> AdapterOnFuzzBus(FuzzInput& input) {
    auto engine = std::make_unique<FuzzEngine>(input);
    FuzzEngine& bus = *engine;
    auto adapter = std::make_unique<CE2CCommAdapter>(std::move(engine));
    bus.adapter = adapter.get();
    return adapter;
}

void HoldReplyTimeoutAtZero(CCcbMessage& request) {
    // Whatever the data length, the adapter reads the parameters where they stand.
    if (request.command == CCB_CMD_CONFIGURE || request.command == CCB_CMD_BOOT_INIT)
        std::memset(request.data + offsetof(BootInitParams, replyTimeoutMs), 0, sizeof(uint32_t));
}

std::string ScratchFile(const std::string& name, const std::string& content) {
    // Plain characters: the removal at exit runs after static objects are gone. Memory-backed
    // where the machine has it, as a file is written for every input.
    static char directory[32];
    static const bool made = [] {
        std::snprintf(directory, sizeof directory, "%s/orvfuzz-XXXXXX",
                      access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
        return mkdtemp(directory) != nullptr && std::atexit([] {
                                                    std::error_code ignored;
                                                    std::filesystem::remove_all(directory, ignored);
                                                }) == 0;
    }();
    const std::string path = std::string(directory) + "/" + name;
    FILE* file = std::fopen(path.c_str(), "wb");
    Require(made && file && std::fwrite(content.data(), 1, content.size(), file) == content.size());
    std::fclose(file);
    return path;
}

}  // namespace orv::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static orv::fuzz::FuzzClock clock;
    static const bool once = (orv::SetClock(&clock), orv::sim::SetSimLogSink([](auto&) {}), true);
    (void)once;
    orv::ConsoleCapture quiet;
    orv::fuzz::FuzzInput input(data, size);
    orv::fuzz::FuzzOne(input);
    return 0;
}

#ifndef ORV_LIBFUZZER
// Without libFuzzer, a target replays its corpus, so that every build flavour checks the seeds
// and past findings: each argument is an input file or a directory of them.
int main(int argc, char** argv) {
    std::set<std::filesystem::path> files;  // in order, so that a run repeats
    for (int i = 1; i < argc; ++i)
        if (std::filesystem::is_directory(argv[i]))
            for (const auto& entry : std::filesystem::directory_iterator(argv[i]))
                files.insert(entry.path());
        else
            files.insert(argv[i]);
    for (const std::filesystem::path& file : files) {
        std::ifstream stream(file, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(stream), {}};
        if (!stream)
            return std::fprintf(stderr, "cannot read %s\n", file.c_str()), 1;
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    std::fprintf(stderr, "replayed %zu inputs\n", files.size());
    return files.empty() ? 1 : 0;  // a corpus gone missing must not pass as a clean run
}
#endif
