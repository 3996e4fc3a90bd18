// What a client sends the simulator's socketcand bridge, cut into reads of any size: every send
// command the bridge accepts goes out as a frame message that the tool reads back as the same
// frame, its identifier written in the form (3 or 8 digits) that it came in.
#include "FuzzSupport.h"
#include "OrvCanSim/bridge/SocketcandCommands.h"
#include "OrvCanSim/bus/VirtualBus.h"
#include "canlink/SocketcandText.h"

void orv::fuzz::FuzzOne(FuzzInput& input) {
    ForEachSocketcandMessage(input, [](const std::string& message) {
        CanFrame sent, heard;
        if (!sim::ParseSendCommand(message, sent).empty())
            return;
        SocketcandSplitter splitter;
        const std::string echo = sim::FormatFrameMessage(sent, sim::WallTime());
        splitter.Feed(echo.data(), echo.size());
        const std::optional<std::string> words = splitter.Next();
        const bool extended = (sent.id & sim::kExtendedFrame) != 0;
        sent.id &= sim::kExtendedIdMask;
        Require(words && ParseSocketcandFrame(*words, heard) && SameFrame(sent, heard) &&
                words->find(' ', 6) == (extended ? 14U : 9U));
    });
}
