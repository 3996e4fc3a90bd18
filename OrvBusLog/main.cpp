// OrvBusLog: the boot-loader conversation of a candump log, in words.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "OrvBusLog/reader/BusLogReader.h"
#include "os/Console.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kReadError = 1;

void PrintUsage() {
    orv::ConsolePrintf(
        "Usage: OrvBusLog FILE|-\n"
        "Prints the boot-loader conversation of a candump log (FILE, or standard input for -),\n"
        "one line per step, with the time since the first frame.\n");
}

// Reads the whole input; false when reading failed part way.
bool ReadAll(std::FILE* input, orv::buslog::BusLogReader& reader) {
    static char buffer[1 << 16];
    size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, input)) > 0) {
        reader.Feed(std::string_view(buffer, count));
    }
    return std::ferror(input) == 0;
}

void ReportLeftOut(const orv::buslog::BusLogReader& reader) {
    if (reader.BadLines() > 0) {
        orv::ConsoleErrorPrintf(
            "OrvBusLog: lines that are not candump frames: %" PRIu64 " (the first: line %" PRIu64
            ")\n",
            reader.BadLines(), reader.FirstBadLine());
    }
    if (reader.OtherFrames() > 0) {
        orv::ConsoleErrorPrintf("OrvBusLog: frames of other traffic left out: %" PRIu64 "\n",
                                reader.OtherFrames());
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string argument = argc == 2 ? argv[1] : "";
    if (argument == "-h" || argument == "--help") {
        PrintUsage();
        return 0;
    }
    if (argument.empty()) {
        orv::ConsoleErrorPrintf("Usage: OrvBusLog FILE|-\n");
        return kUsageError;
    }
    std::FILE* input = argument == "-" ? stdin : std::fopen(argument.c_str(), "rb");
    if (input == nullptr) {
        orv::ConsoleErrorPrintf("OrvBusLog: cannot open %s: %s\n", argument.c_str(),
                                std::strerror(errno));
        return kReadError;
    }
    orv::buslog::BusLogReader reader(
        [](const std::string& line) { orv::ConsolePrintf("%s\n", line.c_str()); });
    const bool read = ReadAll(input, reader);
    if (input != stdin) {
        std::fclose(input);
    }
    reader.Finish();
    orv::ConsoleFlush();
    ReportLeftOut(reader);
    if (!read) {
        orv::ConsoleErrorPrintf("OrvBusLog: reading %s failed\n", argument.c_str());
        return kReadError;
    }
    return 0;
}
