#include "platform/sim/SimAssetInventory.h"

#include <algorithm>

namespace parlaro::sim {

namespace {

std::string localesOf(const std::vector<TranscriberModule>& modules)
{
    std::string text;
    for (const auto& module : modules)
        text += (text.empty() ? "" : ",") + module.locale;
    return text;
}

}  // namespace

SimAssetInstallationRequest::SimAssetInstallationRequest(std::vector<TranscriberModule> modules,
                                                         std::function<void()> onInstalled)
    : modules_(std::move(modules)), onInstalled_(std::move(onInstalled))
{
}

rt::Async<void> SimAssetInstallationRequest::downloadAndInstall()
{
    ++downloadCalls_;
    if (!settled_) {
        co_await rt::withContinuation<void>([this](rt::Continuation<void> done) { waiting_.push_back(done); });
        co_return;
    }
    if (error_)
        std::rethrow_exception(error_);
}

void SimAssetInstallationRequest::settle()
{
    settled_ = true;
    for (auto& done : std::exchange(waiting_, {})) {
        if (error_)
            done.resumeThrowing(error_);
        else
            done.resume();
    }
}

void SimAssetInstallationRequest::succeed()
{
    if (settled_)
        return;
    if (onInstalled_)
        onInstalled_();
    settle();
}

void SimAssetInstallationRequest::fail(std::exception_ptr error)
{
    if (settled_)
        return;
    error_ = std::move(error);
    settle();
}

rt::Async<std::vector<std::string>> SimAssetInventory::reservedLocales()
{
    calls.push_back("reserved");
    co_return reserved;
}

rt::Async<bool> SimAssetInventory::release(std::string locale)
{
    calls.push_back("release " + locale);
    auto it = std::find(reserved.begin(), reserved.end(), locale);
    if (it == reserved.end()
        || std::find(refusedReleases.begin(), refusedReleases.end(), locale) != refusedReleases.end())
        co_return false;
    reserved.erase(it);
    co_return true;
}

AssetStatus SimAssetInventory::statusOf(const TranscriberModule& module) const
{
    auto it = statuses_.find({module.kind, module.locale});
    return it == statuses_.end() ? AssetStatus::supported : it->second;
}

void SimAssetInventory::setStatus(TranscriberKind kind, const std::string& locale, AssetStatus status)
{
    statuses_[{kind, locale}] = status;
}

rt::Async<AssetStatus> SimAssetInventory::status(std::vector<TranscriberModule> modules)
{
    calls.push_back("status " + localesOf(modules));
    // The least ready module decides.
    AssetStatus result = AssetStatus::installed;
    for (const auto& module : modules)
        result = std::min(result, statusOf(module));
    co_return result;
}

rt::Async<std::shared_ptr<AssetInstallationRequest>>
SimAssetInventory::assetInstallationRequest(std::vector<TranscriberModule> modules)
{
    calls.push_back("request " + localesOf(modules));
    if (requestError)
        std::rethrow_exception(requestError);
    bool allInstalled = std::all_of(modules.begin(), modules.end(),
                                    [&](const auto& m) { return statusOf(m) == AssetStatus::installed; });
    if (allInstalled)
        co_return nullptr;
    auto request = std::make_shared<SimAssetInstallationRequest>(modules, [this, modules] {
        for (const auto& module : modules)
            setStatus(module.kind, module.locale, AssetStatus::installed);
    });
    request->setFractionCompleted(startingFraction);
    requests.push_back(request);
    co_return request;
}

}  // namespace parlaro::sim
