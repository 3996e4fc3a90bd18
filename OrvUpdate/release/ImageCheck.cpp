#include "OrvUpdate/release/ImageCheck.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "image/ProgramImage.h"
#include "os/Console.h"

namespace orv::update {
namespace {

uint32_t ModeOf(BoardKind kind) {
    switch (kind) {
        case BoardKind::Ht:
            return MODE_HT;
        case BoardKind::HtPdo:
            return MODE_HT_PDO;
        case BoardKind::Puc:
            break;
    }
    return MODE_PUC;
}

// The image's messages, one line, reason on standard error included.
std::string OneLine(const std::string& text) {
    std::string line;
    std::istringstream lines(text);
    for (std::string part; std::getline(lines, part);) {
        if (!part.empty()) {
            line += (line.empty() ? "" : "; ") + part;
        }
    }
    return line;
}

std::string ListedFile(const std::filesystem::path& listDir, std::string name) {
    for (char& c : name) {
        if (c == '\\') {
            c = '/';
        }
    }
    return (listDir / name).string();
}
}  // namespace

ImageCheck CheckHexImage(const std::string& path, BoardKind kind, uint32_t baseAddress) {
    ConsoleCapture capture;
    const auto image =
        std::make_unique<CProgramImage>(0, 0, path.c_str(), ModeOf(kind), baseAddress);
    ImageCheck check;
    check.loaded = image->loaded != 0;
    check.checksum = image->bootParams.checksum;
    if (!check.loaded) {
        check.reason = OneLine(capture.Text() + capture.ErrorText());
    }
    return check;
}

std::string CheckFirmwareList(const std::string& path) {
    std::ifstream list(path);
    if (!list) {
        return "cannot read the firmware list " + path;
    }
    const std::filesystem::path listDir = std::filesystem::path(path).parent_path();
    int lineNumber = 0;
    int entries = 0;
    for (std::string line; std::getline(list, line);) {
        ++lineNumber;
        std::istringstream fields(line);
        std::string ident, file, base;
        if (!std::getline(fields, ident, '\t') || !std::getline(fields, file, '\t') ||
            !std::getline(fields, base)) {
            continue;
        }
        ++entries;
        const std::string hexPath = ListedFile(listDir, file);
        const ImageCheck check =
            CheckHexImage(hexPath, BoardKind::HtPdo,
                          static_cast<uint32_t>(std::strtoul(base.c_str(), nullptr, 16)));
        if (!check.loaded) {
            return path + " line " + std::to_string(lineNumber) + ": " + hexPath + ": " +
                   check.reason;
        }
    }
    return entries > 0 ? "" : "the firmware list " + path + " names no firmware";
}

}  // namespace orv::update
