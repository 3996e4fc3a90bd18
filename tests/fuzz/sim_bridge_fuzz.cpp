// What a client sends the simulator's socketcand bridge, cut into reads of any size: every
// send command the bridge accepts goes out as a frame message that the tool reads back as the
// same frame.
#include <cstdlib>

#include "FuzzSupport.h"
#include "canlink/SocketcandText.h"
#include "sim/SocketcandCommands.h"

namespace {

void CheckEcho(const orv::CanFrame& sent) {
    orv::SocketcandSplitter splitter;
    const std::string message = orv::sim::FormatFrameMessage(sent, orv::sim::WallTime());
    splitter.Feed(message.data(), message.size());
    const std::optional<std::string> words = splitter.Next();
    orv::CanFrame heard;
    if (!words || !orv::ParseSocketcandFrame(*words, heard) || heard.id != sent.id ||
        heard.length != sent.length ||
        !std::equal(sent.data, sent.data + sent.length, heard.data)) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orv::fuzz::FuzzInput input(data, size);
    orv::SocketcandSplitter splitter;
    while (!input.Empty()) {
        const std::string read = input.Piece(64);
        splitter.Feed(read.data(), read.size());
        while (const std::optional<std::string> message = splitter.Next()) {
            orv::CanFrame frame;
            if (orv::sim::ParseSendCommand(*message, frame).empty()) {
                CheckEcho(frame);
            }
        }
    }
    return 0;
}
