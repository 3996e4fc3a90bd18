// What a socketcand server sends the tool, cut into reads of any size: every message the
// splitter yields goes through the frame and error parsers, and a frame parsed is sent back.
#include "FuzzSupport.h"
#include "canlink/SocketcandText.h"
#include "sim/SocketcandCommands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orv::fuzz::FuzzInput input(data, size);
    orv::fuzz::ForEachSocketcandMessage(input, [](const std::string& message) {
        // A message never carries the brackets that delimit it.
        orv::fuzz::Require(message.find_first_of("<>") == std::string::npos);
        orv::SocketcandErrorText(message);
        orv::CanFrame frame, echoed;
        if (!orv::ParseSocketcandFrame(message, frame) || frame.id > 0x7FF)
            return;
        // The send the tool would make of it reads back as the same frame at the server.
        const std::string send = orv::FormatSocketcandSend(frame);
        orv::fuzz::Require(
            orv::sim::ParseSendCommand(send.substr(2, send.size() - 4), echoed).empty() &&
            orv::fuzz::SameFrame(frame, echoed));
    });
    return 0;
}
