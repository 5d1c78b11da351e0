#pragma once

#include "runtime/Observable.h"
#include "settings/AppInfo.h"
#include "settings/HttpGet.h"

#include <memory>
#include <optional>
#include <string>

namespace parlaro::settings {

// Asks, only when the user wants it, whether the site offers a newer
// version, and keeps the outcome as a phase with one line of status.
class UpdateModel final : public rt::ObservableObject, public std::enable_shared_from_this<UpdateModel> {
public:
    struct Phase {
        enum class Kind { idle, checking, upToDate, available, failed };
        Kind kind = Kind::idle;
        // The offered version (available) or the message, already localized
        // (failed).
        std::string text;

        static Phase idle() { return {}; }
        static Phase checking() { return {Kind::checking, {}}; }
        static Phase upToDate() { return {Kind::upToDate, {}}; }
        static Phase available(std::string version) { return {Kind::available, std::move(version)}; }
        static Phase failed(std::string message) { return {Kind::failed, std::move(message)}; }
        bool operator==(const Phase&) const = default;
    };

    // A check's task holds the model weakly, so it is only made shared.
    class Passkey {
        friend class UpdateModel;
        Passkey() = default;
    };
    static std::shared_ptr<UpdateModel> make(AppInfo info, HttpGet get);
    UpdateModel(Passkey, AppInfo info, HttpGet get);

    rt::Observable<Phase> phase{Phase::idle(), changes()};
    bool isConfigured() const { return info_.updatesEnabled && !info_.updateOrigin.empty(); }

    // Starts a check and returns at once; nothing when not configured or
    // while one runs.
    void check();
    // None while idle and configured.
    std::optional<std::string> statusText() const;

    std::string feedURL() const { return info_.updateOrigin + "/updates/latest.json"; }
    std::string downloadPageURL() const { return info_.updateOrigin + "/download"; }
    // The running version, "—" when the build has none.
    std::string currentAppVersion() const { return info_.version.empty() ? "—" : info_.version; }

    // What an answer means for the version offered; nullopt when it is not
    // a usable one.
    static std::optional<std::string> parseFeed(const HttpResult& result);

private:
    rt::Async<void> fetchLatestVersion();

    AppInfo info_;
    HttpGet get_;
};

}  // namespace parlaro::settings
