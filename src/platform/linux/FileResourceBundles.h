#pragma once

#include "platform/ResourceBundles.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>

namespace parlaro::sys {

// String tables read from <root>/i18n/<code>/*.json. Every JSON object file in
// a language's folder adds to that language's one table, so independent parts
// of the program keep their texts in files of their own. Files are read in
// name order and the first file to define a key keeps it; files that are not
// JSON objects and values that are not strings are skipped.
class FileResourceBundles : public ResourceBundles {
public:
    explicit FileResourceBundles(std::filesystem::path root);

    // The first folder holding an i18n folder among: <executable folder>/resources,
    // <executable folder>/../share/parlaro/resources, <install prefix>/share/parlaro/resources.
    static std::optional<std::filesystem::path> locateRoot(const std::filesystem::path& executableFolder,
                                                           const std::filesystem::path& installPrefix);
    // The same for this program, as built and installed.
    static std::optional<std::filesystem::path> locateRoot();

    const std::filesystem::path& root() const { return root_; }

    std::vector<std::string> localizations() const override;
    std::shared_ptr<const StringTable> openTable(std::string_view code) const override;

private:
    std::filesystem::path root_;
    // The shipped tables never change while the program runs.
    mutable std::mutex mutex_;
    mutable std::map<std::string, std::shared_ptr<const StringTable>, std::less<>> cache_;
    // Read once: every translated text asks which tables there are.
    mutable std::optional<std::vector<std::string>> codes_;
};

}  // namespace parlaro::sys
