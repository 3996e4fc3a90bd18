// The tool's arguments: the input cut at NUL bytes into the words after the program name.
#include <cstring>

#include "FuzzSupport.h"
#include "frontend/CommandLine.h"
#include "os/Console.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orv::fuzz::FuzzInput input(data, size);
    std::vector<std::string> words = {"OrvFlashPuc", ""};
    for (const char c : input.Rest())
        c == '\0' ? words.emplace_back() : words.back() += c;
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    orv::ConsoleCapture quiet;
    RunSettings settings;
    // What a run goes on with: node IDs in range and a file name the record holds whole.
    orv::fuzz::Require(
        !ParseArguments(settings, static_cast<int>(words.size()), argv.data()) ||
        (settings.nodeId <= 0x7F && settings.newNodeId <= 0x7F && settings.applNodeId <= 0x7F &&
         strnlen(settings.hexFileName, sizeof settings.hexFileName) < sizeof settings.hexFileName));
    return 0;
}
