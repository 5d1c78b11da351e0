#include "platform/UserFolders.h"

#include "platform/FolderWalk.h"
#include "platform/ProgramFolder.h"

#include <map>
#include <mutex>
#include <pwd.h>
#include <set>
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

// What the program put in its own environment, by variable: the value, and
// the folder it stands for (none: no folder is used). Looked up again, the
// value answers with that decision, not with a judgement of its own.
std::map<std::string, std::pair<std::string, std::optional<fs::path>>> settledVariables;

// A path under which nothing can be made: for a library, where the program
// keeps nothing.
constexpr const char* nowhere = "/dev/null";

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
    return FolderWalk(folder).whyNotTheUsers();
}

std::optional<fs::path> userFolder(UserFolder kind, const EnvironmentLookup& environment, const HomeLookup& accountHome)
{
    const Variable variable = variableOf(kind);
    const std::optional<std::string> value = environment(variable.name);
    {
        std::lock_guard lock(judgedMutex);
        const auto settled = settledVariables.find(variable.name);
        if (value && settled != settledVariables.end() && settled->second.first == *value)
            return settled->second.second;
    }
    const auto underHome = [&]() -> std::optional<fs::path> {
        std::optional<fs::path> home = absolute(environment("HOME"));
        if (!home && accountHome)
            home = absolute(accountHome());
        if (!home)
            return std::nullopt;
        return *home / variable.underHome;
    };
    const std::optional<fs::path> chosen = absolute(value);
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

std::vector<std::pair<std::string, std::string>> settleFolderVariables(const EnvironmentLookup& environment,
                                                                       const HomeLookup& accountHome)
{
    std::vector<std::pair<std::string, std::string>> settled;
    for (const UserFolder kind : {UserFolder::config, UserFolder::data, UserFolder::state}) {
        const char* name = variableOf(kind).name;
        const std::optional<std::string> value = environment(name);
        if (!value)
            continue;
        const std::optional<fs::path> used = userFolder(kind, environment, accountHome);
        if (used && used->string() == *value)
            continue;
        const std::string replacement = used ? used->string() : nowhere;
        settled.emplace_back(name, replacement);
        std::lock_guard lock(judgedMutex);
        settledVariables.insert_or_assign(name, std::pair(replacement, used));
    }
    return settled;
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
