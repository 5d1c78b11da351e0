#pragma once

#include "model/AppModel.h"
#include "platform/VirtualMicHost.h"
#include "runtime/Task.h"

#include <exception>
#include <memory>
#include <optional>
#include <string>

namespace parlaro::settings {

// Installs and updates the virtual microphone through the sound server: the
// modules are loaded for this user at run time, so there is nothing to copy
// and no password to ask for.
class VirtualMicInstaller {
public:
    // Why an installation did not end well. A cancelled prompt cannot happen
    // here, but the model tells it apart, so it stays.
    class Failure final : public std::exception {
    public:
        enum class Kind { failed, cancelled };
        static Failure failed(std::string text) { return Failure(Kind::failed, std::move(text)); }
        static Failure cancelled() { return Failure(Kind::cancelled, {}); }

        Kind kind() const { return kind_; }
        const std::string& text() const { return text_; }
        // The server's words as they are; a generic line when it said nothing.
        std::string errorDescription() const;
        const char* what() const noexcept override { return text_.c_str(); }
        bool operator==(const Failure& other) const
        {
            return kind_ == other.kind_ && (kind_ == Kind::cancelled || text_ == other.text_);
        }

    private:
        Failure(Kind kind, std::string text) : kind_(kind), text_(std::move(text)) {}
        Kind kind_;
        std::string text_;
    };

    explicit VirtualMicInstaller(std::shared_ptr<VirtualMicHost> host) : host_(std::move(host)) {}

    VirtualMicHost::State state() const { return host_->state(); }
    // Loaded with another build's hash. Absent modules are a missing
    // installation, not an update.
    bool needsUpdate() const { return state() == VirtualMicHost::State::stale; }

    // Loads the modules off the main actor; throws Failure::failed with the
    // server's error text.
    rt::Async<void> install();

    // Hands the model its driver closures: the update check, and an install
    // that runs install() whatever command the model names.
    void useIn(AppModel::Dependencies& dependencies) const;

private:
    std::shared_ptr<VirtualMicHost> host_;
};

} // namespace parlaro::settings
