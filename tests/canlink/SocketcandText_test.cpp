// How the socketcand byte stream is cut into messages, however it arrives.
#include "canlink/SocketcandText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Texts = std::vector<std::string>;

// Feeds each piece in turn and takes every message complete after it.
Texts Split(const Texts& pieces) {
    orv::SocketcandSplitter splitter;
    Texts messages;
    for (const std::string& piece : pieces) {
        splitter.Feed(piece.data(), piece.size());
        while (std::optional<std::string> message = splitter.Next())
            messages.push_back(*message);
    }
    return messages;
}

TEST(SocketcandSplitter, CutsTheStreamIntoMessages) {
    const std::string strays(3000, '<');
    constexpr size_t kMax = orv::SocketcandSplitter::kMaxMessage;
    const std::string unclosed = "< " + std::string(kMax, 'x');
    const std::string longest = "<" + std::string(kMax - 1, 'x');
    const struct {
        const char* name;
        Texts pieces;
        Texts expected;
    } cases[] = {
        {"joined and spaced", {"< hi ><  ok   >"}, {"hi", "ok"}},
        {"split anywhere", {"< fra", "me 1 2.0", " >", "<", " ok >"}, {"frame 1 2.0", "ok"}},
        {"text outside brackets", {"x > y < ok > z"}, {"ok"}},
        {"a message cut off by the next", {"< frame 1 < ok >"}, {"ok"}},
        {"stray brackets across pieces", {strays, strays + "< ok", " >"}, {"ok"}},
        {"too long without its end", {unclosed, "x >< ok >"}, {"ok"}},
        {"the longest kept", {longest, "x >"}, {std::string(kMax, 'x')}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Split(c.pieces), c.expected) << c.name;
}

}  // namespace
