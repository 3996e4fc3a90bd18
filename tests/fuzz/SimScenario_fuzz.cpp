// A scenario file for the simulator: the JSON reader, then every board description it yields
// through the board parser, as the option parser hands them over.
#include <sstream>

#include "FuzzSupport.h"
#include "OrvCanSim/boards/BoardConfig.h"
#include "OrvCanSim/process/ScenarioFile.h"

void orv::fuzz::FuzzOne(FuzzInput& input) {
    std::istringstream stream(input.Rest());
    std::vector<CLI::ConfigItem> items;
    try {
        items = sim::ScenarioFile().from_config(stream);
    } catch (const CLI::ConfigError&) {
        return;
    }
    for (const CLI::ConfigItem& item : items)
        for (const std::string& description : item.inputs)
            if (item.name == "puc" || item.name == "ht") {
                sim::BoardConfig config;
                sim::ParseBoardDescription(
                    item.name == "puc" ? sim::BoardKind::Puc : sim::BoardKind::Ht, description,
                    config);
            }
}
