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
    // The devices are always loaded from the same modules, so the step never
    // changes.
    useVirtualDeviceSetup(d,
                          {.ensure = [host] { return host->ensure(); },
                           .needsUpdate = [host] { return host->state() == VirtualMicHost::State::stale; },
                           .source = d.virtualDeviceSource.value_or("virtual-microphone-modules"),
                           .version = std::nullopt});
}

}  // namespace parlaro::settings
