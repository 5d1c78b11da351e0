#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace parlaro {

// Key -> text for one interface language.
using StringTable = std::unordered_map<std::string, std::string>;

// The string tables shipped with the program, one per interface language.
class ResourceBundles {
public:
    virtual ~ResourceBundles() = default;

    // The language codes that have a table, sorted.
    virtual std::vector<std::string> localizations() const = 0;
    // The table for a code; null when there is none or the code is not a
    // plain tag (see isPlainCode). Every text lookup opens a table, so
    // implementations keep what they have read.
    virtual std::shared_ptr<const StringTable> openTable(std::string_view code) const = 0;

    // Letters, digits and "-" only: safe to use as a folder name.
    static bool isPlainCode(std::string_view code);
};

}  // namespace parlaro
