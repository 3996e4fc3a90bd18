// A scenario file for the simulator: the JSON reader, then every board description it yields
// through the board parser, as the option parser hands them over.
#include <sstream>

#include "FuzzSupport.h"
#include "sim/BoardConfig.h"
#include "sim/ScenarioFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::istringstream stream(std::string(reinterpret_cast<const char*>(data), size));
    std::vector<CLI::ConfigItem> items;
    try {
        items = orv::sim::ScenarioFile().from_config(stream);
    } catch (const CLI::ConfigError&) {
        return 0;
    }
    for (const CLI::ConfigItem& item : items) {
        if (item.name != "puc" && item.name != "ht")
            continue;
        const auto kind = item.name == "puc" ? orv::sim::BoardKind::Puc : orv::sim::BoardKind::Ht;
        for (const std::string& description : item.inputs) {
            orv::sim::BoardConfig config;
            orv::sim::ParseBoardDescription(kind, description, config);
        }
    }
    return 0;
}
