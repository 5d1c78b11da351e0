#include "platform/linux/FileResourceBundles.h"

#include "platform/JsonInput.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <sstream>

#ifndef PARLARO_INSTALL_PREFIX
#define PARLARO_INSTALL_PREFIX "/usr/local"
#endif

namespace parlaro::sys {
namespace fs = std::filesystem;
namespace {

bool isFolder(const fs::path& path)
{
    std::error_code error;
    return fs::is_directory(path, error);
}

void mergeFile(const fs::path& file, StringTable& table)
{
    std::ifstream stream(file, std::ios::binary);
    if (!stream) {
        return;
    }
    std::ostringstream contents;
    contents << stream.rdbuf();
    const std::optional<nlohmann::json> parsed = parseJsonInput(contents.str());
    if (!parsed || !parsed->is_object()) {
        return;
    }
    for (const auto& [key, text] : parsed->items()) {
        if (text.is_string()) {
            table.try_emplace(key, text.get<std::string>());
        }
    }
}

}  // namespace

FileResourceBundles::FileResourceBundles(fs::path root) : root_(std::move(root))
{
}

std::optional<fs::path> FileResourceBundles::locateRoot(const fs::path& executableFolder, const fs::path& installPrefix)
{
    const fs::path candidates[] = {
        executableFolder / "resources",
        executableFolder / ".." / "share" / "parlaro" / "resources",
        installPrefix / "share" / "parlaro" / "resources",
    };
    for (const fs::path& candidate : candidates) {
        if (isFolder(candidate / "i18n")) {
            return candidate.lexically_normal();
        }
    }
    return std::nullopt;
}

std::optional<fs::path> FileResourceBundles::locateRoot()
{
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    return locateRoot(error ? fs::current_path(error) : executable.parent_path(), PARLARO_INSTALL_PREFIX);
}

std::vector<std::string> FileResourceBundles::localizations() const
{
    std::lock_guard lock(mutex_);
    if (codes_)
        return *codes_;
    std::vector<std::string> codes;
    std::error_code error;
    for (fs::directory_iterator entry(root_ / "i18n", error), end; !error && entry != end; entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (isPlainCode(name) && isFolder(entry->path())) {
            codes.push_back(name);
        }
    }
    std::sort(codes.begin(), codes.end());
    codes_ = codes;
    return codes;
}

std::shared_ptr<const StringTable> FileResourceBundles::openTable(std::string_view code) const
{
    if (!isPlainCode(code)) {
        return nullptr;
    }
    std::lock_guard lock(mutex_);
    if (auto cached = cache_.find(code); cached != cache_.end()) {
        return cached->second;
    }
    const fs::path folder = root_ / "i18n" / std::string(code);
    if (!isFolder(folder)) {
        return nullptr;
    }
    std::vector<fs::path> files;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        std::error_code typeError;
        if (entry->path().extension() == ".json" && entry->is_regular_file(typeError)) {
            files.push_back(entry->path());
        }
    }
    std::sort(files.begin(), files.end());
    StringTable table;
    for (const fs::path& file : files) {
        mergeFile(file, table);
    }
    auto shared = std::make_shared<const StringTable>(std::move(table));
    cache_.emplace(std::string(code), shared);
    return shared;
}

}  // namespace parlaro::sys
