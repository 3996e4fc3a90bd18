#include "OrvBusLog/reader/BusLogReader.h"

#include <optional>

#include "OrvBusLog/reader/CandumpLine.h"

namespace orv::buslog {

void BusLogReader::Feed(std::string_view bytes) {
    while (!bytes.empty()) {
        const size_t end = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, end);
        const size_t room = kMaxLine - line_.size();
        line_.append(piece.substr(0, room));
        overlong_ = overlong_ || piece.size() > room;
        if (end == std::string_view::npos) {
            return;
        }
        EndLine();
        bytes.remove_prefix(end + 1);
    }
}

void BusLogReader::Finish() {
    if (!line_.empty() || overlong_) {
        EndLine();
    }
    conversation_.Finish();
}

void BusLogReader::EndLine() {
    ++lineNumber_;
    if (!TakeLine() && ++badLines_ == 1) {
        firstBadLine_ = lineNumber_;
    }
    line_.clear();
    overlong_ = false;
}

bool BusLogReader::TakeLine() {
    if (overlong_) {
        return false;
    }
    if (line_.find_first_not_of(" \t\r") == std::string::npos) {
        return true;
    }
    const std::optional<LoggedFrame> logged = ParseCandumpLine(line_);
    if (logged) {
        conversation_.Take(*logged);
    }
    return logged.has_value();
}

}  // namespace orv::buslog
