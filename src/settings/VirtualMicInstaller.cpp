#include "settings/VirtualMicInstaller.h"

#include "runtime/Background.h"
#include "speech/Localization.h"

namespace parlaro::settings {

std::string VirtualMicInstaller::Failure::errorDescription() const
{
    if (kind_ == Kind::cancelled)
        return localized("已取消");
    return text_.empty() ? localized("系统没有完成操作") : text_;
}

rt::Async<void> VirtualMicInstaller::install()
{
    std::optional<std::string> failure = co_await rt::runInBackground([host = host_] { return host->ensure(); });
    if (failure)
        throw Failure::failed(*failure);
}

void VirtualMicInstaller::useIn(AppModel::Dependencies& d) const
{
    auto host = host_;
    d.driverUpdateCheck = [host] { return host->state() == VirtualMicHost::State::stale; };
    // The model names the step by the resource it would install from; here
    // the modules are the resource, so the step is always the same.
    d.installScript = [](const std::string&) { return std::string("ensure virtual microphone"); };
    d.runAsAdmin = [host](std::string) -> rt::Async<void> {
        co_await VirtualMicInstaller(host).install();
    };
    if (!d.bundledDriverURL)
        d.bundledDriverURL = "virtual-microphone-modules";
}

} // namespace parlaro::settings
