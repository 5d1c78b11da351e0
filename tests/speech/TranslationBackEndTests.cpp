#include "platform/EngineNames.h"
#include "speech/DirectTranslation.h"
#include "speech/HostedTranslation.h"
#include "speech/TranslationServiceFactory.h"

#include "TranslationTestSupport.h"

#include <gtest/gtest.h>

using namespace parlaro;
using sim::SimReply;
using sim::SimRequest;

namespace {

struct TranslationBackEndTest : test::TranslationFixture {
    std::shared_ptr<test::CallOutcome> translateWith(std::shared_ptr<TranslationService> service, std::string text,
                                                     std::string source = "en", std::string target = "es")
    {
        return start([service, text, source, target] { return service->translate(text, source, target); });
    }
    std::shared_ptr<test::CallOutcome> prepareWith(std::shared_ptr<TranslationService> service, std::string source,
                                                   std::string target)
    {
        return start([service, source, target]() -> rt::Async<std::string> {
            return
                [](std::shared_ptr<TranslationService> s, std::string from, std::string to) -> rt::Async<std::string> {
                    co_await s->prepare(std::move(from), std::move(to));
                    co_return "";
                }(service, source, target);
        });
    }
};

}  // namespace

TEST_F(TranslationBackEndTest, TheNewerPlatformGetsDirectSessions)
{
    auto direct = makeTranslationService(PlatformCapabilities{true}, host);
    EXPECT_EQ(direct->adapterName(), "Simulated translation session");
    EXPECT_NE(dynamic_cast<DirectTranslation*>(direct.get()), nullptr);

    auto hosted = makeTranslationService(PlatformCapabilities{}, host);
    EXPECT_EQ(hosted->adapterName(), "Simulated hosted translation");
    EXPECT_NE(dynamic_cast<HostedTranslation*>(hosted.get()), nullptr);

    // Services made before a platform's names were installed name its
    // engines too, and go back when it is gone.
    {
        EngineNamesScope names(EngineNames{.directTranslation = "direct", .hostedTranslation = "hosted"});
        EXPECT_EQ(direct->adapterName(), "direct");
        EXPECT_EQ(hosted->adapterName(), "hosted");
    }
    EXPECT_EQ(direct->adapterName(), "Simulated translation session");
    EXPECT_EQ(hosted->adapterName(), "Simulated hosted translation");

    // Without a host neither could download a language: refused when made,
    // not when the first download is asked for.
    EXPECT_THROW(makeTranslationService(PlatformCapabilities{true}, nullptr), std::invalid_argument);
    EXPECT_THROW(makeTranslationService(PlatformCapabilities{}, nullptr), std::invalid_argument);
}

TEST_F(TranslationBackEndTest, BothBackEndsGiveSimplifiedChineseAndPassFailuresOn)
{
    system.setResponder("en", "zh-Hans", [](const SimRequest& r) {
        if (r.text == "bad")
            return SimReply::fail(DomainError("SimTranslation", 1, "漢語錯誤"));
        return SimReply::answer("漢語");
    });
    system.setResponder("en", "zh-Hant", [](const SimRequest&) { return SimReply::answer("漢語"); });
    auto direct = std::make_shared<DirectTranslation>(host);
    auto hosted = std::make_shared<HostedTranslation>(host);

    for (const auto& service :
         {std::shared_ptr<TranslationService>(direct), std::shared_ptr<TranslationService>(hosted)}) {
        EXPECT_EQ(translateWith(service, "Chinese", "en", "zh-Hans")->text, "汉语") << service->adapterName();
        EXPECT_EQ(translateWith(service, "Chinese", "en", "zh-Hant")->text, "漢語") << service->adapterName();
        // A failure is never normalised: its description stays as the system gave it.
        EXPECT_EQ(translateWith(service, "bad", "en", "zh-Hans")->error, "系统翻译出错：漢語錯誤（TR-6）")
            << service->adapterName();
    }
}

TEST_F(TranslationBackEndTest, DirectKeepsOneSessionPerDirectionUntilItFails)
{
    system.setResponder("en", "es", [](const SimRequest& r) {
        if (r.text == "bad")
            return SimReply::fail(DomainError("SimTranslation", 4, "会话失效"));
        return SimReply::answer("es:" + r.text);
    });
    auto direct = std::make_shared<DirectTranslation>(host);

    EXPECT_EQ(translateWith(direct, "one")->text, "es:one");
    EXPECT_EQ(translateWith(direct, "two")->text, "es:two");
    EXPECT_EQ(system.sessionsMade("en", "es"), 1);

    EXPECT_EQ(translateWith(direct, "uno", "es", "en")->text, "uno");
    EXPECT_EQ(system.sessionsMade("es", "en"), 1);
    EXPECT_EQ(direct->sessionCount(), 2u);

    EXPECT_EQ(translateWith(direct, "bad")->error, "系统翻译出错：会话失效（TR-6）");
    EXPECT_EQ(direct->sessionCount(), 1u);
    EXPECT_EQ(translateWith(direct, "three")->text, "es:three");
    EXPECT_EQ(system.sessionsMade("en", "es"), 2);
    EXPECT_EQ(system.sessionsCancelled("en", "es"), 0);  // a failed session is dropped, not cancelled
}

TEST_F(TranslationBackEndTest, AnOldSessionsFailureLeavesItsReplacementAlone)
{
    system.setResponder("en", "es", [](const SimRequest& r) {
        if (r.text == "fails at 1")
            return SimReply::fail(DomainError("SimTranslation", 4, "会话失效"), 1);
        if (r.text == "fails at 3")
            return SimReply::fail(DomainError("SimTranslation", 4, "会话失效"), 3);
        return SimReply::answer("es:" + r.text);
    });
    auto direct = std::make_shared<DirectTranslation>(host);

    auto early = translateWith(direct, "fails at 1");
    auto late = translateWith(direct, "fails at 3");
    advanceTo(1);
    EXPECT_TRUE(early->error.has_value());
    advanceTo(2);
    EXPECT_EQ(translateWith(direct, "fresh")->text, "es:fresh");
    EXPECT_EQ(system.sessionsMade("en", "es"), 2);

    advanceTo(3);
    EXPECT_EQ(late->error, "系统翻译出错：会话失效（TR-6）");
    EXPECT_EQ(direct->sessionCount(), 1u);
    EXPECT_EQ(translateWith(direct, "still")->text, "es:still");
    EXPECT_EQ(system.sessionsMade("en", "es"), 2);
}

TEST_F(TranslationBackEndTest, DirectGivesUpOnASilentSessionWithTheHostsPatience)
{
    // The first session never answers; later ones stay silent only on "quiet".
    system.setResponder("en", "es", [](const SimRequest& r) {
        if (r.session == 1 || r.text == "quiet")
            return SimReply::hang();
        return SimReply::answer("es:" + r.text);
    });
    auto direct = std::make_shared<DirectTranslation>(host);

    auto first = translateWith(direct, "one");
    advanceTo(10);
    auto second = translateWith(direct, "two");
    advanceTo(29.9);
    EXPECT_TRUE(first->pending());
    advanceTo(30);
    EXPECT_EQ(first->error, test::tr5);
    EXPECT_EQ(first->at, 30.0);
    // The silent session is dropped, and whoever still waited on it hears why.
    EXPECT_EQ(second->error, test::tr5);
    EXPECT_EQ(second->at, 30.0);
    EXPECT_EQ(system.sessionsCancelled("en", "es"), 1);
    EXPECT_EQ(direct->sessionCount(), 0u);

    // Once the pair has answered, a silence is given up on after 10 s.
    EXPECT_EQ(translateWith(direct, "three")->text, "es:three");
    EXPECT_EQ(system.sessionsMade("en", "es"), 2);
    auto quiet = translateWith(direct, "quiet");
    advanceTo(39.9);
    EXPECT_TRUE(quiet->pending());
    advanceTo(40);
    EXPECT_EQ(quiet->error, test::tr5);

    // A reset forgets that the pair ever answered.
    direct->reset();
    auto afterReset = translateWith(direct, "quiet");
    advanceTo(69.9);
    EXPECT_TRUE(afterReset->pending());
    advanceTo(70);
    EXPECT_EQ(afterReset->error, test::tr5);
    EXPECT_EQ(afterReset->outcomes, 1);
}

TEST_F(TranslationBackEndTest, DirectResetCancelsEachSessionOnce)
{
    auto direct = std::make_shared<DirectTranslation>(host);
    direct->reset();
    EXPECT_EQ(direct->sessionCount(), 0u);

    system.setResponder("en", "es", [](const SimRequest& r) { return SimReply::answer("es:" + r.text, 5); });
    auto running = translateWith(direct, "slow");
    EXPECT_EQ(translateWith(direct, "fast", "es", "en")->text, "fast");
    EXPECT_EQ(direct->sessionCount(), 2u);

    direct->reset();
    runtime.runUntilIdle();
    EXPECT_EQ(direct->sessionCount(), 0u);
    EXPECT_EQ(system.sessionsCancelled("en", "es"), 1);
    EXPECT_EQ(system.sessionsCancelled("es", "en"), 1);
    EXPECT_EQ(running->error, "系统翻译出错：翻译会话已取消（TR-6）");
    direct->reset();
    EXPECT_EQ(system.sessionsCancelled("en", "es"), 1);

    advanceTo(5);
    EXPECT_EQ(running->outcomes, 1);
    auto after = translateWith(direct, "again");
    advanceTo(10);
    EXPECT_EQ(after->text, "es:again");
    EXPECT_EQ(system.sessionsMade("en", "es"), 2);
}

TEST_F(TranslationBackEndTest, DownloadsGoThroughTheHostForBoth)
{
    system.setResponder("en", "es",
                        [](const SimRequest& r) { return r.prepare ? SimReply::answer("", 40) : SimReply::hang(); });
    auto direct = std::make_shared<DirectTranslation>(host);
    auto hosted = std::make_shared<HostedTranslation>(host);

    auto directDownload = prepareWith(direct, "en", "es");
    auto hostedDownload = prepareWith(hosted, "en", "es");
    EXPECT_TRUE(system.windows.last()->isRevealed());
    EXPECT_EQ(direct->sessionCount(), 0u);

    // A direct reset leaves the host's download alone.
    direct->reset();
    advanceTo(40);
    EXPECT_EQ(directDownload->text, "");
    EXPECT_TRUE(hostedDownload->pending());
    advanceTo(80);
    EXPECT_EQ(hostedDownload->text, "");
    EXPECT_FALSE(system.windows.last()->isRevealed());
}

TEST_F(TranslationBackEndTest, HostedResetFailsEveryWaitingTranslation)
{
    system.setResponder("en", "es", [](const SimRequest&) { return SimReply::hang(); });
    system.setResponder("es", "en", [](const SimRequest&) { return SimReply::hang(); });
    auto hosted = std::make_shared<HostedTranslation>(host);
    auto one = translateWith(hosted, "one");
    auto two = translateWith(hosted, "two");
    auto back = translateWith(hosted, "tres", "es", "en");

    hosted->reset();
    runtime.runUntilIdle();
    for (const auto& call : {one, two, back})
        EXPECT_EQ(call->error, test::tr5);
    EXPECT_TRUE(host->store().slots.get().empty());
}
