#include "settings/LegacyHelperRemoval.h"

#include "runtime/Background.h"

namespace parlaro::settings {

namespace {

constexpr const char* helperName = "ParlaroHelper";
constexpr const char* serviceName = "local.parlaro.helper.service";
constexpr const char* systemctl = "/usr/bin/systemctl";

void removeFile(const std::filesystem::path& path)
{
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

bool isOurHelper(const LegacyHelperHost& host, pid_t pid)
{
    return host.processes->owner(pid) == host.user && host.processes->name(pid) == helperName;
}

}  // namespace

std::vector<pid_t> legacyHelperProcessIDs(const LegacyHelperHost& host)
{
    std::vector<pid_t> result;
    for (pid_t pid : host.processes->pids()) {
        if (pid >= 1 && isOurHelper(host, pid))
            result.push_back(pid);
    }
    return result;
}

void performLegacyHelperRemoval(const LegacyHelperHost& host)
{
    host.runner->run(systemctl, {"--user", "disable", "--now", serviceName});
    removeFile(host.home / "Library/LaunchAgents/local.parlaro.helper.plist");
    removeFile(host.home / ".config/systemd/user" / serviceName);

    // A pid may have been reused between the listing and the signal: look
    // again just before sending it.
    for (pid_t pid : legacyHelperProcessIDs(host)) {
        if (isOurHelper(host, pid))
            host.processes->terminate(pid);
    }

    const std::filesystem::path folder = host.home / "Library/Application Support/Parlaro";
    for (const char* file : {"owner.json", "settings.json", "helper.json"})
        removeFile(folder / file);
    std::error_code error;
    const bool empty = std::filesystem::is_empty(folder, error);
    if (!error && empty)
        removeFile(folder);

    try {
        host.defaults->remove("helperEnabled");
        host.defaults->remove("helperRepairedHash");
    } catch (...) {
        // Left for the next launch, which repeats every step.
    }

    for (int round = 0; round < 20 && !legacyHelperProcessIDs(host).empty(); ++round)
        host.sleep(std::chrono::milliseconds(100));

    const int active = host.runner->run(systemctl, {"--user", "is-active", "--quiet", serviceName});
    if (active != 0 && legacyHelperProcessIDs(host).empty()) {
        try {
            host.defaults->set(legacyHelperRemovedKey, DefaultsValue(true));
        } catch (...) {
            // Not recorded: the next launch runs the clean-up again.
        }
    }
}

void removeLegacyHelper(LegacyHelperHost host)
{
    if (host.defaults->get<bool>(legacyHelperRemovedKey).value_or(false))
        return;
    rt::spawn([host = std::move(host)]() -> rt::Async<void> {
        try {
            co_await rt::runInBackground([host] { performLegacyHelperRemoval(host); });
        } catch (...) {
            // Nothing is shown; the next launch tries again.
        }
    });
}

}  // namespace parlaro::settings
