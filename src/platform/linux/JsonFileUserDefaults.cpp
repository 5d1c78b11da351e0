#include "platform/linux/JsonFileUserDefaults.h"

#include "platform/AtomicFile.h"
#include "platform/linux/DefaultsJson.h"
#include "runtime/Error.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace parlaro::sys {
namespace {

DomainError defaultsError(JsonFileUserDefaults::ErrorCode code, std::string text)
{
    return DomainError(JsonFileUserDefaults::errorDomain, static_cast<std::int64_t>(code), std::move(text));
}

std::optional<std::string> readWholeFile(const std::filesystem::path& file)
{
    std::ifstream stream(file, std::ios::binary);
    if (!stream) {
        return std::nullopt;
    }
    std::ostringstream contents;
    contents << stream.rdbuf();
    if (stream.bad()) {
        return std::nullopt;
    }
    return contents.str();
}

std::filesystem::path homeFolder(const Environment& environment)
{
    // A relative HOME would put the settings in whatever folder the program
    // was started from; the account's own home stands in for it.
    if (auto home = environment("HOME"); home && std::filesystem::path(*home).is_absolute()) {
        return *home;
    }
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::string storage(16384, '\0');
    if (::getpwuid_r(::getuid(), &entry, storage.data(), storage.size(), &found) == 0 && found != nullptr) {
        return found->pw_dir;
    }
    return ".";
}

// Moves without replacing an existing file: a set-aside copy must never be
// lost to a later one.
bool moveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to, bool& taken)
{
    taken = false;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno == EEXIST) {
        taken = true;
        return false;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    // Filesystems without RENAME_NOREPLACE: a hard link also refuses to
    // replace an existing name.
    if (::link(from.c_str(), to.c_str()) != 0) {
        taken = errno == EEXIST;
        return false;
    }
    ::unlink(from.c_str());
    return true;
}

}  // namespace

JsonFileUserDefaults::JsonFileUserDefaults(std::filesystem::path file, Timestamp timestamp) : file_(std::move(file))
{
    load(timestamp);
}

std::filesystem::path JsonFileUserDefaults::defaultPath(std::string_view name, const Environment& environment)
{
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos
        || name.find('\0') != std::string_view::npos) {
        throw std::invalid_argument("Settings store name must be a plain file name: " + std::string(name));
    }
    std::filesystem::path base;
    if (auto configured = environment("XDG_CONFIG_HOME");
        configured && std::filesystem::path(*configured).is_absolute()) {
        base = *configured;
    } else {
        base = homeFolder(environment) / ".config";
    }
    return base / "wenmora" / (std::string(name) + ".json");
}

std::string JsonFileUserDefaults::utcTimestamp()
{
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm parts{};
    ::gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
    return text;
}

void JsonFileUserDefaults::load(const Timestamp& timestamp)
{
    std::error_code error;
    const auto status = std::filesystem::symlink_status(file_, error);
    if (status.type() == std::filesystem::file_type::not_found) {
        return;
    }
    std::optional<std::string> contents;
    if (!error && std::filesystem::is_regular_file(std::filesystem::status(file_, error))) {
        contents = readWholeFile(file_);
    }
    if (contents) {
        nlohmann::json parsed = nlohmann::json::parse(*contents, nullptr, false);
        if (!parsed.is_discarded() && parsed.is_object()) {
            root_ = std::move(parsed);
            return;
        }
    }
    setAside(timestamp);
}

void JsonFileUserDefaults::setAside(const Timestamp& timestamp)
{
    const std::string base = file_.string() + ".corrupt-" + timestamp();
    for (int attempt = 1; attempt < 1000; ++attempt) {
        const std::filesystem::path target = attempt == 1 ? base : base + "-" + std::to_string(attempt);
        bool taken = false;
        if (moveWithoutReplacing(file_, target, taken)) {
            setAsidePath_ = target;
            return;
        }
        if (!taken) {
            break;
        }
    }
    damagedFileKept_ = true;
}

std::optional<std::filesystem::path> JsonFileUserDefaults::setAsidePath() const
{
    std::lock_guard lock(mutex_);
    return setAsidePath_;
}

void JsonFileUserDefaults::save(const nlohmann::json& root)
{
    if (damagedFileKept_) {
        throw defaultsError(ErrorCode::damagedFileKept,
                            "The settings file " + file_.string()
                                + " is damaged and could not be moved aside; settings cannot be saved until it"
                                  " is repaired or removed.");
    }
    std::string text;
    try {
        text = root.dump(2) + "\n";
    } catch (const nlohmann::json::exception& error) {
        throw defaultsError(ErrorCode::writeFailed, "Cannot save settings: " + std::string(error.what()));
    }
    try {
        writeFileAtomically(file_, text);
    } catch (const std::system_error& error) {
        throw defaultsError(ErrorCode::writeFailed, "Cannot save settings: " + std::string(error.what()));
    }
}

std::optional<DefaultsValue> JsonFileUserDefaults::value(std::string_view key) const
{
    std::lock_guard lock(mutex_);
    auto found = root_.find(key);
    if (found == root_.end()) {
        return std::nullopt;
    }
    return decodeDefaultsValue(*found);
}

void JsonFileUserDefaults::set(std::string_view key, DefaultsValue value)
{
    std::lock_guard lock(mutex_);
    auto found = root_.find(key);
    if (found != root_.end() && decodeDefaultsValue(*found) == value) {
        return;
    }
    nlohmann::json next = root_;
    next[std::string(key)] = encodeDefaultsValue(value);
    save(next);
    root_ = std::move(next);
}

void JsonFileUserDefaults::remove(std::string_view key)
{
    std::lock_guard lock(mutex_);
    if (root_.find(key) == root_.end()) {
        return;
    }
    nlohmann::json next = root_;
    next.erase(std::string(key));
    save(next);
    root_ = std::move(next);
}

bool JsonFileUserDefaults::has(std::string_view key) const
{
    std::lock_guard lock(mutex_);
    return root_.contains(key);
}

}  // namespace parlaro::sys
