#include "StringTableFiles.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace parlaro::test {

void loadStringTables(sim::SimResourceBundles& bundles, const std::string& code)
{
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(PARLARO_SOURCE_DIR) / "resources" / "i18n" / code;
    if (!fs::is_directory(folder))
        throw std::runtime_error("no string tables for " + code);
    StringTable table;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() != ".json")
            continue;
        std::ifstream in(entry.path());
        const auto json = nlohmann::json::parse(in);
        for (const auto& [key, value] : json.items())
            table.emplace(key, value.get<std::string>());
    }
    bundles.setTable(code, std::move(table));
}

}  // namespace parlaro::test
