// What a socketcand server sends the tool, cut into reads of any size: every message the
// splitter yields goes through the frame and error parsers, and a frame parsed is sent back.
#include <cstdlib>

#include "FuzzSupport.h"
#include "canlink/SocketcandText.h"
#include "sim/SocketcandCommands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orv::fuzz::FuzzInput input(data, size);
    orv::SocketcandSplitter splitter;
    while (!input.Empty()) {
        const std::string read = input.Piece(64);
        splitter.Feed(read.data(), read.size());
        while (const std::optional<std::string> message = splitter.Next()) {
            // A message never carries the brackets that delimit it.
            if (message->find_first_of("<>") != std::string::npos) {
                std::abort();
            }
            orv::SocketcandErrorText(*message);
            orv::CanFrame frame;
            if (!orv::ParseSocketcandFrame(*message, frame) || frame.id > 0x7FF) {
                continue;
            }
            // The send the tool would make of it reads back as the same frame at the server.
            const std::string send = orv::FormatSocketcandSend(frame);
            orv::CanFrame echoed;
            if (!orv::sim::ParseSendCommand(send.substr(2, send.size() - 4), echoed).empty() ||
                echoed.id != frame.id || echoed.length != frame.length ||
                !std::equal(frame.data, frame.data + frame.length, echoed.data)) {
                std::abort();
            }
        }
    }
    return 0;
}
