#include "UiWorld.h"

#include "runtime/Continuation.h"
#include "settings/UpdateModel.h"
#include "settings/UpdateVersion.h"
#include "speech/InterfaceLanguage.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

using namespace parlaro;
using namespace parlaro::settings;
using Phase = UpdateModel::Phase;

namespace {

AppInfo configured(std::string version = "1.0")
{
    return AppInfo{std::move(version), true, "https://updates.example"};
}

// Answers each GET when the test says so.
struct FakeServer {
    std::vector<HttpRequest> requests;
    std::vector<rt::Continuation<HttpResult>> waiting;

    HttpGet get()
    {
        return [this](HttpRequest request) -> rt::Async<HttpResult> {
            requests.push_back(request);
            co_return co_await rt::withContinuation<HttpResult>(
                [this](rt::Continuation<HttpResult> done) { waiting.push_back(done); });
        };
    }
    void answer(HttpResult result)
    {
        auto done = waiting.front();
        waiting.erase(waiting.begin());
        done.resume(std::move(result));
    }
};

HttpResult ok(std::string body)
{
    return {HttpResult::Kind::response, 200, std::move(body)};
}

}  // namespace

TEST(UpdateVersion, ValidatesTheFormAndComparesPieceByPiece)
{
    for (const char* bad : {"1.2.3.4.5", "1..2", "1.2a", "1234567", "v1.2", "", ".", "1.", "-1", " 1"})
        EXPECT_FALSE(versionIsValid(bad)) << bad;
    for (const char* good : {"1", "1.2.3.4", "999999", "0"})
        EXPECT_TRUE(versionIsValid(good)) << good;

    EXPECT_TRUE(isVersionNewer("1.2.10", "1.2.9"));
    EXPECT_FALSE(isVersionNewer("1.2", "1.2.0"));
    EXPECT_FALSE(isVersionNewer("1.2.0", "1.2"));
    EXPECT_TRUE(isVersionNewer("2", "1.9.9.9"));
    EXPECT_FALSE(isVersionNewer("1.9.9.9", "2"));
    EXPECT_TRUE(isVersionNewer("0.0.1", "—"));
    EXPECT_FALSE(isVersionNewer("0", "—"));
    // A running version too large for any integer reads as 0, not a crash.
    EXPECT_TRUE(isVersionNewer("1.1", "1.99999999999999999999"));
    EXPECT_FALSE(isVersionNewer("1", "1.99999999999999999999"));
}

TEST(UpdateModel, TextsFollowThePhase)
{
    test::UiWorld world;
    FakeServer server;
    auto notConfigured = UpdateModel::make(AppInfo{"1.0", false, {}}, server.get());
    EXPECT_EQ(notConfigured->statusText(), "更新服务尚未开放。");
    notConfigured->check();
    world.settle();
    EXPECT_EQ(notConfigured->phase(), Phase::idle());
    EXPECT_TRUE(server.requests.empty());
    // Switched on without an origin is still not configured.
    EXPECT_FALSE(UpdateModel::make(AppInfo{"1.0", true, {}}, server.get())->isConfigured());

    auto model = UpdateModel::make(configured(), server.get());
    EXPECT_EQ(model->statusText(), std::nullopt);
    model->check();
    EXPECT_EQ(model->statusText(), "正在检查更新…");
    world.settle();
    ASSERT_EQ(server.requests.size(), 1u);
    EXPECT_EQ(server.requests[0].url, "https://updates.example/updates/latest.json");
    EXPECT_EQ(server.requests[0].timeoutMs, 15000);
    EXPECT_EQ(server.requests[0].headers,
              (std::vector<std::pair<std::string, std::string>>{{"Accept", "application/json"}}));
    server.answer(ok(R"({"version":"2.0","notes":"x"})"));
    world.settle();
    EXPECT_EQ(model->phase(), Phase::available("2.0"));
    EXPECT_EQ(model->statusText(), "有新版本 2.0 可用（当前版本 1.0）。");
    EXPECT_EQ(model->downloadPageURL(), "https://updates.example/download");

    model->check();
    world.settle();
    server.answer(ok(R"({"version":"1.0"})"));
    world.settle();
    EXPECT_EQ(model->statusText(), "wenmora 已是最新版本。");

    EXPECT_EQ(UpdateModel::make(AppInfo{"", true, "https://u.example"}, server.get())->currentAppVersion(), "—");
}

TEST(UpdateModel, OneCheckAtATimeAndEveryBadAnswerIsTheGeneralFailure)
{
    test::UiWorld world;
    FakeServer server;
    auto model = UpdateModel::make(configured(), server.get());
    model->check();
    model->check();
    world.settle();
    model->check();
    world.settle();
    EXPECT_EQ(server.requests.size(), 1u) << "a check while checking sends nothing";
    server.answer({HttpResult::Kind::connectionFailed, 0, {}});
    world.settle();
    EXPECT_EQ(model->phase(), Phase::failed("无法连接更新服务器，请检查网络连接后重试。"));

    const std::vector<HttpResult> bad = {
        {HttpResult::Kind::response, 304, R"({"version":"2.0"})"},
        {HttpResult::Kind::response, 500, R"({"version":"2.0"})"},
        ok("not json"),
        ok(R"(["2.0"])"),
        ok(R"({"version":2})"),
        ok("{}"),
        ok(R"({"version":"1.2.3.4.5"})"),
        ok(R"({"version":"1..2"})"),
        ok(R"({"version":"1.2a"})"),
        ok(R"({"version":"1234567"})"),
        ok(R"({"version":"v1.2"})"),
        // A version beside a value nested deeper than any feed needs.
        ok(R"({"version":"2.0","x":)" + std::string(65, '[') + std::string(65, ']') + "}"),
        {HttpResult::Kind::otherFailure, 0, {}},
    };
    for (const HttpResult& answer : bad) {
        model->check();
        world.settle();
        server.answer(answer);
        world.settle();
        EXPECT_EQ(model->phase(), Phase::failed("暂时无法检查更新，请稍后重试。"))
            << answer.status << " " << answer.body;
    }
}

TEST(UpdateModel, TheWholeCheckHasOneDeadlineOfFifteenSeconds)
{
    test::UiWorld world;
    FakeServer server;
    auto model = UpdateModel::make(configured(), server.get());
    model->check();
    world.settle();
    ASSERT_EQ(server.requests.size(), 1u);
    EXPECT_EQ(server.requests[0].maxBodyBytes, 64u * 1024u);
    world.runtime.advance(14.999);
    world.settle();
    EXPECT_EQ(model->phase(), Phase::checking());
    world.runtime.advance(0.001);
    world.settle();
    EXPECT_EQ(model->phase(), Phase::failed("无法连接更新服务器，请检查网络连接后重试。"));

    // An answer after the deadline changes nothing; the next check runs as
    // usual.
    server.answer(ok(R"({"version":"2.0"})"));
    world.settle();
    EXPECT_EQ(model->phase(), Phase::failed("无法连接更新服务器，请检查网络连接后重试。"));
    model->check();
    world.settle();
    server.answer(ok(R"({"version":"2.0"})"));
    world.settle();
    EXPECT_EQ(model->phase(), Phase::available("2.0"));
}

TEST(UpdateModel, AFailureKeepsTheLanguageItHappenedIn)
{
    test::UiWorld world;
    world.platform.bundles.setTable("en", {{"暂时无法检查更新，请稍后重试。", "Try later."}});
    InterfaceLanguage::set("en");
    FakeServer server;
    auto model = UpdateModel::make(configured(), server.get());
    model->check();
    world.settle();
    server.answer(ok("{}"));
    world.settle();
    InterfaceLanguage::set("zh-Hans");
    EXPECT_EQ(model->statusText(), "Try later.");
}

TEST(AppInfo, TheDefaultBuildHasAVersionAndNoUpdateCheck)
{
    test::UiWorld world;
    const AppInfo info = AppInfo::compiledIn();
    EXPECT_TRUE(versionIsValid(info.version)) << info.version;
    EXPECT_FALSE(info.updatesEnabled);
    FakeServer server;
    EXPECT_EQ(UpdateModel::make(info, server.get())->statusText(), "更新服务尚未开放。");
}
