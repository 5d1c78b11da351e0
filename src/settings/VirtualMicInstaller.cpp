#include "settings/VirtualMicInstaller.h"

#include "model/ModelDependencies.h"
#include "runtime/Background.h"

namespace parlaro::settings {

rt::Async<void> VirtualMicInstaller::install()
{
    std::optional<std::string> failure = co_await rt::runInBackground([host = host_] { return host->ensure(); });
    if (failure)
        throw Failure::failed(*failure);
}

void VirtualMicInstaller::useIn(AppModel::Dependencies& d) const
{
    auto host = host_;
    // Where the model would name the driver copy it installs from, the
    // modules are the resource, so the step is always the same.
    useVirtualDeviceSetup(d,
                          {.ensure = [host] { return host->ensure(); },
                           .needsUpdate = [host] { return host->state() == VirtualMicHost::State::stale; },
                           .source = d.bundledDriverURL.value_or("virtual-microphone-modules"),
                           .version = std::nullopt});
}

}  // namespace parlaro::settings
