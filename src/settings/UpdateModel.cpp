#include "settings/UpdateModel.h"

#include "platform/JsonInput.h"
#include "settings/UpdateVersion.h"
#include "speech/Deadline.h"
#include "speech/Localization.h"

#include <nlohmann/json.hpp>

namespace parlaro::settings {

namespace {
// One limit for the whole check: an answer that trickles in keeps the
// connection busy but does not make the check any longer.
constexpr double checkSeconds = 15.0;
// A version file is a few hundred bytes.
constexpr std::size_t largestFeed = 64 * 1024;
constexpr const char* connectionFailure = "无法连接更新服务器，请检查网络连接后重试。";
constexpr const char* generalFailure = "暂时无法检查更新，请稍后重试。";
}  // namespace

std::shared_ptr<UpdateModel> UpdateModel::make(AppInfo info, HttpGet get)
{
    return std::make_shared<UpdateModel>(Passkey(), std::move(info), std::move(get));
}

UpdateModel::UpdateModel(Passkey, AppInfo info, HttpGet get) : info_(std::move(info)), get_(std::move(get))
{
}

void UpdateModel::check()
{
    if (!isConfigured() || phase().kind == Phase::Kind::checking)
        return;
    phase.set(Phase::checking());
    rt::spawn([weak = weak_from_this()]() -> rt::Async<void> {
        if (auto self = weak.lock())
            co_await self->fetchLatestVersion();
    });
}

rt::Async<void> UpdateModel::fetchLatestVersion()
{
    HttpRequest request;
    request.url = feedURL();
    request.headers = {{"Accept", "application/json"}};
    request.timeoutMs = static_cast<int>(checkSeconds * 1000);
    request.maxBodyBytes = largestFeed;
    HttpResult result;
    try {
        result = co_await withDeadline<HttpResult>(checkSeconds, "update check", std::nullopt, std::nullopt,
                                                   [get = get_, request] { return get(request); });
    } catch (const OperationTimeout&) {
        phase.set(Phase::failed(localized(connectionFailure)));
        co_return;
    } catch (...) {
        phase.set(Phase::failed(localized(generalFailure)));
        co_return;
    }
    if (result.kind == HttpResult::Kind::connectionFailed) {
        phase.set(Phase::failed(localized(connectionFailure)));
        co_return;
    }
    const std::optional<std::string> offered = parseFeed(result);
    if (!offered) {
        phase.set(Phase::failed(localized(generalFailure)));
        co_return;
    }
    if (isVersionNewer(*offered, currentAppVersion()))
        phase.set(Phase::available(*offered));
    else
        phase.set(Phase::upToDate());
}

std::optional<std::string> UpdateModel::parseFeed(const HttpResult& result)
{
    if (result.kind != HttpResult::Kind::response || result.status != 200)
        return std::nullopt;
    const std::optional<nlohmann::json> document = parseJsonInput(result.body);
    if (!document || !document->is_object())
        return std::nullopt;
    const auto version = document->find("version");
    if (version == document->end() || !version->is_string())
        return std::nullopt;
    std::string text = version->get<std::string>();
    if (!versionIsValid(text))
        return std::nullopt;
    return text;
}

std::optional<std::string> UpdateModel::statusText() const
{
    const Phase& current = phase();
    switch (current.kind) {
    case Phase::Kind::idle:
        if (isConfigured())
            return std::nullopt;
        return localized("更新服务尚未开放。");
    case Phase::Kind::checking:
        return localized("正在检查更新…");
    case Phase::Kind::upToDate:
        return localized("wenmora 已是最新版本。");
    case Phase::Kind::available:
        return localized("有新版本 %@ 可用（当前版本 %@）。", current.text, currentAppVersion());
    case Phase::Kind::failed:
        return current.text;
    }
    return std::nullopt;
}

}  // namespace parlaro::settings
