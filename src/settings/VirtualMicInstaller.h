#pragma once

#include "model/AppModel.h"
#include "model/VirtualMicInstallerFailure.h"
#include "platform/VirtualMicHost.h"
#include "runtime/Task.h"

#include <memory>
#include <optional>
#include <string>

namespace parlaro::settings {

// Installs and updates the virtual microphone through the sound server: the
// modules are loaded for this user at run time, so there is nothing to copy
// and no password to ask for.
class VirtualMicInstaller {
public:
    // Why an installation did not end well: the model's own failure type,
    // so its install flow tells the server's refusal apart. A cancelled
    // prompt cannot happen here.
    using Failure = VirtualMicInstallerFailure;

    explicit VirtualMicInstaller(std::shared_ptr<VirtualMicHost> host) : host_(std::move(host)) {}

    VirtualMicHost::State state() const { return host_->state(); }
    // Loaded with another build's hash. Absent modules are a missing
    // installation, not an update.
    bool needsUpdate() const { return state() == VirtualMicHost::State::stale; }

    // Loads the modules off the main actor; throws Failure::failed with the
    // server's error text.
    rt::Async<void> install();

    // Hands the model its driver closures: the update check, and an install
    // that loads the modules whatever command the model names.
    void useIn(AppModel::Dependencies& dependencies) const;

private:
    std::shared_ptr<VirtualMicHost> host_;
};

}  // namespace parlaro::settings
