#pragma once

#include <string>
#include <vector>

namespace orv::update {

// Prints rows under a header on standard output, each column as wide as its widest cell.
void PrintTable(const std::vector<std::string>& header,
                const std::vector<std::vector<std::string>>& rows);

}  // namespace orv::update
