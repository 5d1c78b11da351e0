#include "history/UnsavedRescue.h"

#include "history/HistoryFiles.h"
#include "history/HistoryJson.h"
#include "platform/AtomicFile.h"
#include "platform/UserFolders.h"

#include <cstdlib>
#include <system_error>

namespace parlaro::UnsavedRescue {

namespace fs = std::filesystem;

namespace {

// Marks a folder whose conversations the user has not heard of yet.
constexpr const char* untoldMark = ".untold";

std::optional<fs::path> absolute(const std::optional<std::string>& value)
{
    if (!value || value->empty() || !fs::path(*value).is_absolute())
        return std::nullopt;
    return fs::path(*value);
}

}  // namespace

std::vector<fs::path> places(const EnvironmentLookup& environment)
{
    const std::optional<fs::path> home = absolute(environment("HOME"));
    std::vector<fs::path> found;
    for (const UserFolder kind : {UserFolder::state, UserFolder::config}) {
        if (const auto folder = programFolder(kind, environment, {}))
            found.push_back(*folder / folderName);
    }
    if (home)
        found.push_back(*home / (std::string("Parlaro ") + folderName));
    return found;
}

std::vector<fs::path> places()
{
    return places([](const std::string& name) -> std::optional<std::string> {
        if (const char* value = std::getenv(name.c_str()))
            return std::string(value);
        return std::nullopt;
    });
}

std::optional<fs::path> write(const std::vector<ConversationSession>& sessions, const std::vector<fs::path>& places)
{
    for (const fs::path& folder : places) {
        std::error_code error;
        fs::create_directories(folder, error);
        if (error)
            continue;
        bool written = true;
        for (const ConversationSession& session : sessions) {
            // Beside any session an earlier rescue put there, replacing
            // only the same conversation's older copy.
            if (!HistoryFiles::writeAtomically(folder / (session.id.toString() + ".json"),
                                               HistoryJson::encode(session))) {
                written = false;
                break;
            }
        }
        if (written && HistoryFiles::writeAtomically(folder / untoldMark, ""))
            return folder;
    }
    return std::nullopt;
}

std::optional<Untold> takeUntold(const std::vector<fs::path>& places)
{
    for (const fs::path& folder : places) {
        std::error_code error;
        if (!fs::exists(fs::symlink_status(folder / untoldMark, error)))
            continue;
        Untold found{folder, 0};
        for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
            if (HistoryFiles::sessionId(it->path()))
                ++found.sessions;
        }
        fs::remove(folder / untoldMark, error);
        return found;
    }
    return std::nullopt;
}

}  // namespace parlaro::UnsavedRescue
