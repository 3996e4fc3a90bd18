#include "OrvUpdate/run/Table.h"

#include <algorithm>

#include "os/Console.h"

namespace orv::update {

void PrintTable(const std::vector<std::string>& header,
                const std::vector<std::vector<std::string>>& rows) {
    std::vector<size_t> widths(header.size());
    for (size_t c = 0; c < header.size(); ++c) {
        widths[c] = header[c].size();
        for (const auto& row : rows) {
            widths[c] = std::max(widths[c], row[c].size());
        }
    }
    const auto print = [&](const std::vector<std::string>& cells) {
        std::string line;
        for (size_t c = 0; c < cells.size(); ++c) {
            line += cells[c];
            if (c + 1 < cells.size()) {
                line += std::string(widths[c] - cells[c].size() + 2, ' ');
            }
        }
        ConsolePrintf("%s\n", line.c_str());
    };
    print(header);
    for (const auto& row : rows) {
        print(row);
    }
    ConsoleFlush();
}

}  // namespace orv::update
