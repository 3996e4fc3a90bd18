#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace orv::sim {

// Reads a scenario: a JSON object whose keys are the long option names and whose values are
// what the options take. A list gives a repeatable option several values; a board may be
// written as an object of its options, {"id": 12, "boot": 20, "silent": true}.
class ScenarioFile : public CLI::Config {
  public:
    std::string to_config(const CLI::App*, bool, bool, std::string) const override;
    std::vector<CLI::ConfigItem> from_config(std::istream& input) const override;
};

}  // namespace orv::sim
