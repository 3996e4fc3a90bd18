// What a client sends the simulator's socketcand bridge, cut into reads of any size: every send
// command the bridge accepts goes out as a frame message that the tool reads back as the same
// frame.
#include "FuzzSupport.h"
#include "canlink/SocketcandText.h"
#include "OrvCanSim/bridge/SocketcandCommands.h"

void orv::fuzz::FuzzOne(FuzzInput& input) {
    ForEachSocketcandMessage(input, [](const std::string& message) {
        CanFrame sent, heard;
        if (!sim::ParseSendCommand(message, sent).empty())
            return;
        SocketcandSplitter splitter;
        const std::string echo = sim::FormatFrameMessage(sent, sim::WallTime());
        splitter.Feed(echo.data(), echo.size());
        const std::optional<std::string> words = splitter.Next();
        Require(words && ParseSocketcandFrame(*words, heard) && SameFrame(sent, heard));
    });
}
