#include "history/UnsavedRescue.h"

#include "history/HistoryFiles.h"
#include "history/HistoryJson.h"
#include "platform/AtomicFile.h"
#include "platform/FolderWalk.h"
#include "platform/UserFolders.h"

#include <functional>

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
        if (makeFolders(folder))
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

BroughtBack bringBack(const std::vector<fs::path>& places, const std::function<bool(const ConversationSession&)>& save)
{
    BroughtBack result;
    for (const fs::path& folder : places) {
        std::error_code error;
        if (!fs::is_directory(fs::symlink_status(folder, error)))
            continue;
        removeStaleTemporaries(
            folder,
            [](const std::string& target) {
                return target == untoldMark || HistoryFiles::sessionId(fs::path(target)).has_value();
            },
            std::nullopt);
        std::vector<fs::path> files;
        for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
            if (HistoryFiles::sessionId(it->path()))
                files.push_back(it->path());
        std::size_t remaining = 0;
        for (const fs::path& file : files) {
            const std::optional<std::string> text = HistoryFiles::read(file);
            const std::optional<ConversationSession> session = text ? HistoryJson::decodeSession(*text) : std::nullopt;
            std::error_code removal;
            if (session && save(*session) && fs::remove(file, removal) && !removal)
                ++result.sessions;
            else
                ++remaining;
        }
        const bool untold = fs::exists(fs::symlink_status(folder / untoldMark, error));
        if (remaining == 0) {
            fs::remove(folder / untoldMark, error);
            fs::remove(folder, error);
        } else if (untold && !result.left) {
            result.left = Untold{folder, remaining};
            fs::remove(folder / untoldMark, error);
        }
    }
    return result;
}

}  // namespace parlaro::UnsavedRescue
