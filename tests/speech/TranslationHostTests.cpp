#include "speech/HostSlot.h"
#include "speech/TranslationHost.h"

#include "TranslationTestSupport.h"

#include <gtest/gtest.h>

using namespace parlaro;
using sim::SimReply;
using sim::SimRequest;
using State = sim::SimHostWindow::State;

namespace {

struct TranslationHostTest : test::TranslationFixture {
    // Texts starting with "hang" are never answered; the rest come back
    // translated after `delay` seconds.
    void answerUnlessHanging(double delay = 0, std::string source = "en", std::string target = "es")
    {
        system.setResponder(source, target, [delay](const SimRequest& r) {
            if (r.text.starts_with("hang"))
                return SimReply::hang();
            return SimReply::answer("译" + r.text, delay);
        });
    }
};

}  // namespace

TEST_F(TranslationHostTest, PatienceIsThirtySecondsUntilThePairAnswersThenTen)
{
    answerUnlessHanging();

    auto first = translate("hang 1");
    advanceTo(29.99);
    EXPECT_TRUE(first->pending());
    advanceTo(30.0);
    EXPECT_EQ(first->error, test::tr5);
    EXPECT_DOUBLE_EQ(first->at, 30.0);
    // The pair reconnected with a new session.
    EXPECT_EQ(system.sessionsMade("en", "es"), 2);

    EXPECT_EQ(translate("hello")->text, "译hello");

    // Answered once: 10 s, also after each further reconnection.
    auto second = translate("hang 2");
    advanceTo(39.99);
    EXPECT_TRUE(second->pending());
    advanceTo(40.0);
    EXPECT_EQ(second->error, test::tr5);
    auto third = translate("hang 3");
    advanceTo(50.0);
    EXPECT_EQ(third->error, test::tr5);
    EXPECT_DOUBLE_EQ(third->at, 50.0);

    // Another pair has its own patience.
    answerUnlessHanging(0, "es", "en");
    auto reverse = translate("hang", "es", "en");
    advanceTo(60.0);
    EXPECT_TRUE(reverse->pending());
    advanceTo(80.0);
    EXPECT_EQ(reverse->error, test::tr5);

    // After a reset every pair is new again.
    host->resetAll();
    auto afterReset = translate("hang 4");
    advanceTo(109.99);
    EXPECT_TRUE(afterReset->pending());
    advanceTo(110.0);
    EXPECT_EQ(afterReset->error, test::tr5);
}

TEST_F(TranslationHostTest, ThreeJobsOnAHungPairAllFailAtTheFirstTimeOut)
{
    answerUnlessHanging();
    auto running = translate("hang a");
    advanceTo(1);
    auto queued1 = translate("hang b");
    advanceTo(2);
    auto queued2 = translate("hang c");
    ASSERT_EQ(host->store().slots.get().size(), 1u);
    const auto slot = host->store().slots.get().front();
    EXPECT_EQ(slot->queue.size(), 2u);

    advanceTo(30.0);
    for (const auto& call : {running, queued1, queued2}) {
        EXPECT_EQ(call->error, test::tr5);
        EXPECT_DOUBLE_EQ(call->at, 30.0);
    }
    EXPECT_TRUE(slot->queue.empty());
    EXPECT_EQ(host->waitingCount(), 0u);
    EXPECT_EQ(system.sessionsMade("en", "es"), 2);
    EXPECT_EQ(system.runner.runsCancelled(), 1u);

    // The later timers find nothing to do.
    advanceTo(33.0);
    for (const auto& call : {running, queued1, queued2})
        EXPECT_EQ(call->outcomes, 1);
    EXPECT_EQ(system.sessionsMade("en", "es"), 2);

    // The new session serves the pair.
    EXPECT_EQ(translate("again")->text, "译again");
}

TEST_F(TranslationHostTest, APlatformErrorAnswersItsOwnCallerAndTheQueueGoesOn)
{
    system.setResponder("en", "es", [](const SimRequest& r) {
        if (r.text == "bad")
            return SimReply::fail(DomainError("SimTranslation", 3, "磁盘已满"), 1);
        if (r.text == "coded")
            return SimReply::fail(ModuleError(ModuleID::translation, 9, "另有原因"), 1);
        return SimReply::answer("译" + r.text, 1);
    });

    auto bad = translate("bad");
    auto good = translate("good");
    auto coded = translate("coded");
    auto last = translate("last");

    advanceTo(1);
    EXPECT_EQ(bad->error, "系统翻译出错：磁盘已满（TR-6）");
    EXPECT_TRUE(good->pending());
    EXPECT_EQ(system.sessionsMade("en", "es"), 2);

    advanceTo(2);
    EXPECT_EQ(good->text, "译good");
    advanceTo(3);
    EXPECT_EQ(coded->error, "另有原因（TR-9）");
    EXPECT_EQ(system.sessionsMade("en", "es"), 3);
    advanceTo(4);
    EXPECT_EQ(last->text, "译last");
}

TEST_F(TranslationHostTest, ALateAnswerIsDroppedButStillCountsAsAnswered)
{
    system.setResponder("en", "es", [](const SimRequest& r) {
        if (r.session == 1)
            return SimReply::answer("迟到", 35);
        return SimReply::hang();
    });
    auto late = translate("slow");
    advanceTo(30.0);
    EXPECT_EQ(late->error, test::tr5);
    advanceTo(35.0);
    EXPECT_EQ(late->outcomes, 1);
    EXPECT_TRUE(host->store().slots.get().front()->answered);

    auto next = translate("next");
    advanceTo(45.0);
    EXPECT_EQ(next->error, test::tr5);
}

TEST_F(TranslationHostTest, CancellingTheCallerDoesNotWithdrawItsJob)
{
    answerUnlessHanging(5);
    rt::TaskHandle<> handle;
    auto h = host;
    auto call = start([h] { return h->translate("hello", "en", "es"); }, &handle);
    handle.cancel();
    advanceTo(4);
    EXPECT_TRUE(call->pending());
    advanceTo(5);
    EXPECT_EQ(call->text, "译hello");
}

TEST_F(TranslationHostTest, RunsThatStartLateServeWhatQueuedMeanwhile)
{
    system.runner.setStartsRunsAtOnce(false);
    auto a = translate("a");
    auto b = translate("b");
    EXPECT_EQ(host->store().slots.get().front()->queue.size(), 2u);
    EXPECT_EQ(system.sessionsMade("en", "es"), 0);

    system.runner.startPendingRuns();
    runtime.runUntilIdle();
    EXPECT_EQ(a->text, "a");
    EXPECT_EQ(b->text, "b");
    EXPECT_TRUE(host->store().slots.get().front()->queue.empty());
}

TEST_F(TranslationHostTest, ADownloadCountsAsAnAnswerButAFailureDoesNot)
{
    system.setResponder("en", "es", [](const SimRequest& r) {
        if (r.prepare)
            return SimReply::answer("", 60);
        if (r.text == "bad")
            return SimReply::fail(DomainError("SimTranslation", 3, "磁盘已满"));
        return SimReply::hang();
    });
    system.setResponder("de", "fr", [](const SimRequest& r) {
        return r.text == "bad" ? SimReply::fail(DomainError("SimTranslation", 3, "磁盘已满")) : SimReply::hang();
    });

    // A failed job leaves the pair as patient as before.
    EXPECT_EQ(translate("bad", "de", "fr")->error, "系统翻译出错：磁盘已满（TR-6）");
    auto stillNew = translate("hang", "de", "fr");
    advanceTo(29.99);
    EXPECT_TRUE(stillNew->pending());
    advanceTo(30.0);
    EXPECT_EQ(stillNew->error, test::tr5);

    // A download that took a minute is an answer: 10 s from then on.
    auto download = prepare("en", "es");
    advanceTo(90.0);
    EXPECT_EQ(download->text, "");
    auto afterDownload = translate("hang");
    advanceTo(99.99);
    EXPECT_TRUE(afterDownload->pending());
    advanceTo(100.0);
    EXPECT_EQ(afterDownload->error, test::tr5);
}

TEST_F(TranslationHostTest, TheFirstTranslationMakesTheWindowHiddenAndEachDirectionItsOwnSlot)
{
    EXPECT_EQ(system.windows.last(), nullptr);
    EXPECT_EQ(translate("hello", "en", "es")->text, "hello");
    auto window = system.windows.last();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->states(), (std::vector<State>{State::hiddenInFront}));
    EXPECT_EQ(host->visibleRequests(), 0);

    EXPECT_EQ(translate("hola", "es", "en")->text, "hola");
    EXPECT_EQ(translate("again", "en", "es")->text, "again");
    EXPECT_EQ(system.windows.made().size(), 1u);
    EXPECT_EQ(window->states().size(), 1u);
    ASSERT_EQ(host->store().slots.get().size(), 2u);
    EXPECT_EQ(host->store().slots.get()[0]->key, "en-Latn-US>es-Latn-ES");
    EXPECT_EQ(host->store().slots.get()[1]->key, "es-Latn-ES>en-Latn-US");
    EXPECT_EQ(system.sessionsMade("en", "es"), 1);
    EXPECT_EQ(system.sessionsMade("es", "en"), 1);
}

TEST_F(TranslationHostTest, PreparesRevealTheWindowUntilTheLastEndsAndNeverTimeOut)
{
    EXPECT_EQ(system.windows.last(), nullptr);
    system.setResponder("en", "es", [](const SimRequest&) { return SimReply::answer("", 100); });
    system.setResponder("de", "fr", [](const SimRequest&) { return SimReply::answer("", 50); });
    system.setResponder("fr", "de", [](const SimRequest&) {
        return SimReply::fail(DomainError("SimTranslation", 7, "用户拒绝下载"), 10);
    });

    auto first = prepare("en", "es");
    auto window = system.windows.last();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->content().title, "正在准备翻译语言包…");
    EXPECT_EQ(window->content().prompt, "请在系统提示中确认下载翻译语言包");
    EXPECT_EQ(window->states(), (std::vector<State>{State::hiddenInFront, State::revealed}));

    auto second = prepare("de", "fr");
    EXPECT_EQ(host->visibleRequests(), 2);

    advanceTo(31.0);
    EXPECT_TRUE(first->pending());
    EXPECT_TRUE(second->pending());
    EXPECT_TRUE(window->isRevealed());

    advanceTo(50.0);
    EXPECT_EQ(second->text, "");
    EXPECT_TRUE(window->isRevealed());
    EXPECT_EQ(host->visibleRequests(), 1);

    advanceTo(100.0);
    EXPECT_EQ(first->text, "");
    EXPECT_FALSE(window->isRevealed());
    EXPECT_EQ(window->states().back(), State::hiddenBehind);
    EXPECT_EQ(host->visibleRequests(), 0);

    // A refused download hides the window just the same.
    auto refused = prepare("fr", "de");
    EXPECT_TRUE(window->isRevealed());
    advanceTo(110.0);
    EXPECT_EQ(refused->error, "系统翻译出错：用户拒绝下载（TR-6）");
    EXPECT_FALSE(window->isRevealed());
    EXPECT_EQ(host->visibleRequests(), 0);
    EXPECT_EQ(system.windows.made().size(), 1u);
}

TEST_F(TranslationHostTest, ABackEndWithoutAWindowMakerGetsNoWindowYetTranslatesAndPrepares)
{
    TranslationPlatformScope windowless(TranslationPlatformServices{&system, nullptr});
    system.setResponder("en", "es", [](const SimRequest& request) { return SimReply::answer("译" + request.text, 1); });
    system.setResponder("de", "fr", [](const SimRequest&) { return SimReply::answer("", 1); });
    auto translation = translate("hello");
    auto download = prepare("de", "fr");
    EXPECT_EQ(host->visibleRequests(), 1);
    advanceTo(1.0);
    EXPECT_EQ(translation->text, "译hello");
    EXPECT_EQ(download->text, "");
    EXPECT_EQ(host->visibleRequests(), 0);
    EXPECT_EQ(host->window(), nullptr);
    EXPECT_EQ(system.windows.last(), nullptr);
    EXPECT_EQ(host->store().slots.get().size(), 2u);

    // Time-outs and reconnections need no window either.
    system.setResponder("en", "es", [](const SimRequest&) { return SimReply::hang(); });
    auto hanging = translate("hang");
    advanceTo(11.0);
    EXPECT_EQ(hanging->error, test::tr5);
    EXPECT_EQ(system.sessionsMade("en", "es"), 2);
}

TEST_F(TranslationHostTest, ResetFailsEveryWaiterAndDropsEveryPair)
{
    answerUnlessHanging();
    system.setResponder("de", "fr", [](const SimRequest&) { return SimReply::hang(); });
    auto translation = translate("hang");
    auto download = prepare("de", "fr");
    EXPECT_TRUE(system.windows.last()->isRevealed());
    EXPECT_EQ(system.runner.slotCount(), 2u);

    host->resetAll();
    runtime.runUntilIdle();
    EXPECT_EQ(translation->error, test::tr5);
    EXPECT_EQ(download->error, test::tr5);
    EXPECT_DOUBLE_EQ(download->at, 0.0);
    EXPECT_FALSE(system.windows.last()->isRevealed());
    EXPECT_TRUE(host->store().slots.get().empty());
    EXPECT_EQ(system.runner.slotCount(), 0u);
    EXPECT_EQ(system.runner.runsCancelled(), 2u);

    // The old timer finds nothing; the pair starts afresh with a new slot.
    advanceTo(30.0);
    EXPECT_EQ(translation->outcomes, 1);
    EXPECT_EQ(translate("hello")->text, "译hello");
    EXPECT_EQ(system.sessionsMade("en", "es"), 2);
}

TEST_F(TranslationHostTest, AWaitingRunTakesDeliveriesAndANewerRunDisplacesIt)
{
    HostSlot slot("en-Latn-US>es-Latn-ES", "en", "es");
    std::optional<std::optional<HostJob>> first;
    std::optional<std::optional<HostJob>> second;
    const auto run1 = rt::Uuid::random();
    const auto run2 = rt::Uuid::random();

    rt::spawn([&]() -> rt::Async<void> { first = co_await slot.next(run1); });
    runtime.runUntilIdle();
    ASSERT_TRUE(slot.waiter);
    EXPECT_EQ(slot.waiter->run, run1);

    rt::spawn([&]() -> rt::Async<void> { second = co_await slot.next(run2); });
    runtime.runUntilIdle();
    ASSERT_TRUE(first);
    EXPECT_FALSE(first->has_value());  // displaced: its run stops

    // A late cancellation of the displaced run leaves the new waiter alone.
    slot.cancelWaiter(run1);
    ASSERT_TRUE(slot.waiter);

    const auto job = rt::Uuid::random();
    slot.deliver(HostJob{job, HostJob::Translate{"hello"}});
    runtime.runUntilIdle();
    ASSERT_TRUE(second && second->has_value());
    EXPECT_EQ((*second)->id, job);
    EXPECT_TRUE(slot.queue.empty());

    // With nobody waiting, jobs queue.
    slot.deliver(HostJob{rt::Uuid::random(), HostJob::Prepare{}});
    EXPECT_EQ(slot.queue.size(), 1u);

    // A cancelled run gets nothing at once.
    std::optional<std::optional<HostJob>> cancelled;
    auto task = rt::spawn([&]() -> rt::Async<void> { cancelled = co_await slot.next(rt::Uuid::random()); });
    task.cancel();
    runtime.runUntilIdle();
    ASSERT_TRUE(cancelled);
    EXPECT_FALSE(cancelled->has_value());
    EXPECT_FALSE(slot.waiter);
}

TEST(HostWindowLookup, TheHostWindowNeverCountsAsTheMainWindow)
{
    const WindowFacts host{true, true, false, true};
    const WindowFacts hidden{false, true, false, false};
    const WindowFacts panel{true, false, false, false};
    const WindowFacts docked{true, true, true, false};
    const WindowFacts main{true, true, false, false};

    EXPECT_EQ(findMainWindow({host, hidden, panel, docked, main}, WindowSearch::showing), 4u);
    EXPECT_EQ(findMainWindow({host, hidden, panel, docked, main}, WindowSearch::visible), 2u);
    EXPECT_EQ(findMainWindow({host, hidden}, WindowSearch::visible), std::nullopt);
}
