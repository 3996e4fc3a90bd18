#include "OrvCanSim/process/ScenarioFile.h"

#include <nlohmann/json.hpp>

namespace orv::sim {
namespace {

using Json = nlohmann::json;

std::string ScalarText(const std::string& key, const Json& value) {
    if (value.is_string()) {
        return value.get<std::string>();
    }
    if (value.is_number() || value.is_boolean()) {
        return value.dump();
    }
    throw CLI::ConfigError("scenario: '" + key + "' wants a number or a text");
}

// {"id": 12, "boot": 20, "silent": true, "status-error": ["210:0x85"]} -> "12,boot=20,silent,..."
std::string BoardText(const Json& board) {
    if (!board.is_object()) {
        return ScalarText("board", board);
    }
    if (!board.contains("id")) {
        throw CLI::ConfigError("scenario: every board needs its \"id\"");
    }
    std::string text = ScalarText("id", board["id"]);
    for (const auto& [name, value] : board.items()) {
        if (name == "id") {
            continue;
        }
        if (value.is_boolean()) {
            if (value.get<bool>()) {
                text += "," + name;
            }
        } else if (value.is_array()) {
            for (const Json& item : value) {
                text += "," + name + "=" + ScalarText(name, item);
            }
        } else {
            text += "," + name + "=" + ScalarText(name, value);
        }
    }
    return text;
}

}  // namespace

std::string ScenarioFile::to_config(const CLI::App*, bool, bool, std::string) const {
    return "";
}

std::vector<CLI::ConfigItem> ScenarioFile::from_config(std::istream& input) const {
    const Json scenario = Json::parse(input, nullptr, false);
    if (scenario.is_discarded() || !scenario.is_object()) {
        throw CLI::ConfigError("scenario: not a JSON object");
    }
    std::vector<CLI::ConfigItem> items;
    for (const auto& [key, value] : scenario.items()) {
        CLI::ConfigItem item;
        item.name = key;
        const bool boards = key == "puc" || key == "ht";
        for (const Json& entry : value.is_array() ? value : Json::array({value})) {
            item.inputs.push_back(boards ? BoardText(entry) : ScalarText(key, entry));
        }
        items.push_back(item);
    }
    return items;
}

}  // namespace orv::sim
