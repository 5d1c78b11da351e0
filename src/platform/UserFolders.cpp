#include "platform/UserFolders.h"

#include "platform/ProgramFolder.h"

#include <grp.h>
#include <map>
#include <mutex>
#include <pwd.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace parlaro {

namespace fs = std::filesystem;

namespace {

struct Variable {
    const char* name;
    const char* underHome;
};

Variable variableOf(UserFolder kind)
{
    switch (kind) {
    case UserFolder::config:
        return {"XDG_CONFIG_HOME", ".config"};
    case UserFolder::data:
        return {"XDG_DATA_HOME", ".local/share"};
    case UserFolder::state:
        break;
    }
    return {"XDG_STATE_HOME", ".local/state"};
}

std::optional<fs::path> absolute(const std::optional<std::string>& value)
{
    if (!value || value->empty() || !fs::path(*value).is_absolute())
        return std::nullopt;
    return fs::path(*value);
}

// A group of the user's alone: the user's own group of the same name with
// nobody else listed in it, as systems that give each user a group of their
// own make it. Their folders are made writable by the group.
bool privateGroup(gid_t group)
{
    if (group != ::getgid())
        return false;
    std::string storage(16384, '\0');
    struct passwd user {};
    struct passwd* foundUser = nullptr;
    if (::getpwuid_r(::getuid(), &user, storage.data(), storage.size(), &foundUser) != 0 || !foundUser)
        return false;
    const std::string userName = foundUser->pw_name;
    struct group entry {};
    struct group* found = nullptr;
    if (::getgrgid_r(group, &entry, storage.data(), storage.size(), &found) != 0 || !found)
        return false;
    if (userName != found->gr_name)
        return false;
    for (char** member = found->gr_mem; *member; ++member) {
        if (userName != *member)
            return false;
    }
    return true;
}

bool othersMayWrite(const struct stat& status)
{
    return (status.st_mode & S_IWOTH) != 0 || ((status.st_mode & S_IWGRP) != 0 && !privateGroup(status.st_gid));
}

// Told once for each folder, however often it is looked up: the notice
// that shows the notes is where it is said.
std::mutex toldMutex;
std::set<fs::path> toldFolders;

void tellPassedOver(const fs::path& folder, const std::string& why, const std::optional<fs::path>& instead)
{
    {
        std::lock_guard lock(toldMutex);
        if (!toldFolders.insert(folder).second)
            return;
    }
    addEarlierEntryNote({EarlierEntryNote::Kind::passedOver, folder, {}, instead.value_or(fs::path()), why});
}

struct Refusal {
    fs::path folder;
    std::string why;
};

// The folder, or its program folder, is not the user's alone.
std::optional<Refusal> judge(const fs::path& base)
{
    for (const fs::path& folder : {base, base / programFolderName}) {
        if (auto why = whyNotTheUsers(folder))
            return Refusal{folder, *why};
    }
    return std::nullopt;
}

// Each folder is judged once for the whole run: the settings, the history,
// the recognition cache and the rescue of unsaved conversations all look
// it up, some after others have made it, and a folder taken by one part
// and refused to the next would split the user's files and belie the
// notice.
std::mutex judgedMutex;
std::map<fs::path, std::optional<Refusal>> judgedFolders;

std::optional<Refusal> whyNotUsable(const fs::path& base)
{
    std::lock_guard lock(judgedMutex);
    const auto found = judgedFolders.find(base);
    if (found != judgedFolders.end())
        return found->second;
    return judgedFolders.emplace(base, judge(base)).first->second;
}

// The folders above `folder`, each judged with the step below it: one
// that another user owns (the superuser may do anything anyway), or that
// others may write in, unless it is sticky and the step below is the
// user's, so nobody else may rename it.
std::optional<std::string> whyNotTheUsersWay(const fs::path& folder)
{
    fs::path way = folder.lexically_normal();
    if (way.has_parent_path() && !way.has_filename())
        way = way.parent_path();
    fs::path below = way;
    for (fs::path above = way.parent_path(); !above.empty(); below = above, above = above.parent_path()) {
        struct stat status {};
        if (::stat(above.c_str(), &status) != 0)
            return "cannot look at " + above.string();
        if (status.st_uid != ::geteuid() && status.st_uid != 0)
            return "another user owns " + above.string();
        if (othersMayWrite(status)) {
            struct stat step {};
            const bool ownStep = (status.st_mode & S_ISVTX) != 0 && ::lstat(below.c_str(), &step) == 0
                && (step.st_uid == ::geteuid() || step.st_uid == 0);
            if (!ownStep)
                return "others may write in " + above.string();
        }
        if (above == above.root_path())
            break;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> accountHomeFolder()
{
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::string storage(16384, '\0');
    if (::getpwuid_r(::getuid(), &entry, storage.data(), storage.size(), &found) != 0 || found == nullptr)
        return std::nullopt;
    return std::string(found->pw_dir);
}

std::optional<std::string> whyNotTheUsers(const fs::path& folder)
{
    struct stat status {};
    std::optional<std::string> why;
    fs::path existing = folder;
    if (::stat(folder.c_str(), &status) == 0) {
        if (!S_ISDIR(status.st_mode))
            return std::nullopt;
        if (status.st_uid != ::geteuid())
            return "another user owns it";
        if (othersMayWrite(status))
            return "others may write in it";
    } else {
        // Not there yet: whoever may write in the folder above may make it.
        existing.clear();
        for (fs::path above = folder.parent_path(); !above.empty(); above = above.parent_path()) {
            if (::stat(above.c_str(), &status) == 0) {
                if (!S_ISDIR(status.st_mode))
                    return std::nullopt;
                // Its owner may rename what is made in it (the superuser
                // may do anything anyway).
                if (status.st_uid != ::geteuid() && status.st_uid != 0)
                    return "another user owns " + above.string() + ", where it would be made";
                if (othersMayWrite(status))
                    return "others may write in " + above.string() + ", where it would be made";
                existing = above;
                break;
            }
            if (above == above.root_path())
                break;
        }
        if (existing.empty())
            return std::nullopt;
    }
    // Whoever may rename a folder on the way may put one of their own in its
    // place, with a link where the program writes. Both the way as written
    // and the one its links lead to count.
    if (auto above = whyNotTheUsersWay(existing))
        return above;
    std::error_code error;
    const fs::path real = fs::canonical(existing, error);
    if (!error && real != existing)
        return whyNotTheUsersWay(real);
    return std::nullopt;
}

std::optional<fs::path> userFolder(UserFolder kind, const EnvironmentLookup& environment, const HomeLookup& accountHome)
{
    const Variable variable = variableOf(kind);
    const auto underHome = [&]() -> std::optional<fs::path> {
        std::optional<fs::path> home = absolute(environment("HOME"));
        if (!home && accountHome)
            home = absolute(accountHome());
        if (!home)
            return std::nullopt;
        return *home / variable.underHome;
    };
    const std::optional<fs::path> chosen = absolute(environment(variable.name));
    if (chosen) {
        const auto refused = whyNotUsable(*chosen);
        if (!refused)
            return chosen;
        std::optional<fs::path> instead = underHome();
        if (instead && (*instead == *chosen || whyNotUsable(*instead)))
            instead.reset();
        tellPassedOver(refused->folder, refused->why, instead);
        return instead;
    }
    const std::optional<fs::path> fallback = underHome();
    if (!fallback)
        return std::nullopt;
    if (const auto refused = whyNotUsable(*fallback)) {
        tellPassedOver(refused->folder, refused->why, std::nullopt);
        return std::nullopt;
    }
    return fallback;
}

std::optional<fs::path> programFolder(UserFolder kind, const EnvironmentLookup& environment,
                                      const HomeLookup& accountHome)
{
    auto base = userFolder(kind, environment, accountHome);
    if (base)
        *base /= programFolderName;
    return base;
}

}  // namespace parlaro
