// What a client sends the simulator's socketcand bridge, cut into reads of any size: every
// send command the bridge accepts goes out as a frame message that the tool reads back as the
// same frame.
#include "FuzzSupport.h"
#include "canlink/SocketcandText.h"
#include "sim/SocketcandCommands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orv::fuzz::FuzzInput input(data, size);
    orv::fuzz::ForEachSocketcandMessage(input, [](const std::string& message) {
        orv::CanFrame sent, heard;
        if (!orv::sim::ParseSendCommand(message, sent).empty())
            return;
        orv::SocketcandSplitter splitter;
        const std::string echo = orv::sim::FormatFrameMessage(sent, orv::sim::WallTime());
        splitter.Feed(echo.data(), echo.size());
        const std::optional<std::string> words = splitter.Next();
        orv::fuzz::Require(words && orv::ParseSocketcandFrame(*words, heard) &&
                           orv::fuzz::SameFrame(sent, heard));
    });
    return 0;
}
