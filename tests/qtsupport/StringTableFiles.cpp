#include "StringTableFiles.h"

#include "platform/linux/FileResourceBundles.h"

#include <filesystem>
#include <stdexcept>

namespace parlaro::test {

void loadStringTables(sim::SimResourceBundles& bundles, const std::string& code)
{
    // Read the way the program reads them, from the source tree.
    const sys::FileResourceBundles files(std::filesystem::path(PARLARO_SOURCE_DIR) / "resources");
    const auto table = files.openTable(code);
    if (!table)
        throw std::runtime_error("no string tables for " + code);
    bundles.setTable(code, *table);
}

}  // namespace parlaro::test
