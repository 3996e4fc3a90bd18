// The tool's arguments: the input cut at NUL bytes into the words after the program name.
#include <cstring>

#include "FuzzSupport.h"
#include "frontend/CommandLine.h"

void orv::fuzz::FuzzOne(FuzzInput& input) {
    std::vector<std::string> words = {"OrvFlashPuc", ""};
    for (const char c : input.Rest())
        c == '\0' ? words.emplace_back() : words.back() += c;
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    RunSettings s;
    // What a run goes on with: node IDs in range and a file name the record holds whole.
    Require(!ParseArguments(s, static_cast<int>(words.size()), argv.data()) ||
            (s.nodeId <= 0x7F && s.newNodeId <= 0x7F && s.applNodeId <= 0x7F &&
             strnlen(s.hexFileName, sizeof s.hexFileName) < sizeof s.hexFileName));
}
