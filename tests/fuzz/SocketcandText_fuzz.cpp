// What a socketcand server sends the tool, cut into reads of any size: every message the splitter
// yields goes through the frame and error parsers, and a frame parsed is sent back.
#include "FuzzSupport.h"
#include "canlink/SocketcandText.h"
#include "OrvCanSim/bridge/SocketcandCommands.h"

void orv::fuzz::FuzzOne(FuzzInput& input) {
    ForEachSocketcandMessage(input, [](const std::string& message) {
        // A message never carries the brackets that delimit it.
        Require(message.find_first_of("<>") == std::string::npos);
        SocketcandErrorText(message);
        CanFrame frame, echoed;
        if (!ParseSocketcandFrame(message, frame) || frame.id > 0x7FF)
            return;
        // The send the tool would make of it reads back as the same frame at the server.
        const std::string send = FormatSocketcandSend(frame);
        Require(sim::ParseSendCommand(send.substr(2, send.size() - 4), echoed).empty() &&
                SameFrame(frame, echoed));
    });
}
