#include "runtime/Error.h"
#include "runtime/ManualRuntime.h"
#include "runtime/Observable.h"
#include "runtime/Uuid.h"
#include "runtime/UuidSource.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace parlaro;
using namespace parlaro::rt;

TEST(Observable, NotifiesOnceAfterADifferentStoreOnly)
{
    struct Model : ObservableObject {
        Observable<std::string> status{"", changes()};
        Observable<int> count{0, changes()};
    } model;
    int fieldCalls = 0;
    int objectCalls = 0;
    std::string seenInCallback;
    auto field = model.status.subscribe([&] {
        ++fieldCalls;
        seenInCallback = model.status.get();
    });
    auto object = model.subscribe([&] { ++objectCalls; });
    EXPECT_FALSE(model.status.set(""));
    EXPECT_TRUE(model.status.set("listening"));
    EXPECT_EQ(seenInCallback, "listening") << "observers run after the store";
    model.count.set(3);
    EXPECT_EQ(fieldCalls, 1);
    EXPECT_EQ(objectCalls, 2);
    field.reset();
    model.status.set("idle");
    EXPECT_EQ(fieldCalls, 1);
    EXPECT_EQ(objectCalls, 3);
}

TEST(Observable, ObserversMayUnsubscribeDuringANotification)
{
    Observable<int> value{0};
    Subscription second;
    int secondCalls = 0;
    auto first = value.subscribe([&] { second.reset(); });
    second = value.subscribe([&] { ++secondCalls; });
    value.set(1);
    EXPECT_EQ(secondCalls, 0);
}

TEST(Observable, TrackingFiresOnceForAnyFieldRead)
{
    Observable<int> a{0};
    Observable<int> b{0};
    Observable<int> unread{0};
    int changes = 0;
    auto tracking = withObservationTracking([&] { (void)(a.get() + b.get()); }, [&] { ++changes; });
    unread.set(1);
    EXPECT_EQ(changes, 0);
    b.set(2);
    a.set(3);
    EXPECT_EQ(changes, 1);
}

TEST(Uuid, RandomVersion4InUpperCaseCanonicalFormRoundTrips)
{
    std::set<Uuid> seen;
    for (int i = 0; i < 100; ++i) {
        auto id = Uuid::random();
        auto text = id.toString();
        ASSERT_EQ(text.size(), 36u);
        EXPECT_EQ(text[14], '4');
        EXPECT_NE(std::string("89AB").find(text[19]), std::string::npos);
        for (char c : text)
            EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || c == '-');
        EXPECT_EQ(Uuid::parse(text), id);
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 100u);
    auto lower = Uuid::parse("0f0e0d0c-0b0a-4908-8706-050403020100");
    ASSERT_TRUE(lower);
    EXPECT_EQ(lower->toString(), "0F0E0D0C-0B0A-4908-8706-050403020100");
    for (auto bad : {"", "0f0e0d0c0b0a49088706050403020100", "0f0e0d0c-0b0a-4908-8706-05040302010g",
                     "0f0e0d0c-0b0a-4908-8706_050403020100", "0f0e0d0c-0b0a-4908-8706-0504030201000"})
        EXPECT_FALSE(Uuid::parse(bad)) << bad;
}

TEST(Error, DescriptionsOfOwnAndForeignErrors)
{
    DomainError error("SystemAudio", 0, "默认设备未切换");
    EXPECT_EQ(describe(error), "默认设备未切换");
    EXPECT_STREQ(error.what(), "默认设备未切换");
    EXPECT_EQ(describe(std::make_exception_ptr(std::runtime_error("plain"))), "plain");
    EXPECT_TRUE(isCancellation(std::make_exception_ptr(CancellationError())));
    EXPECT_FALSE(isCancellation(std::make_exception_ptr(error)));
    EXPECT_EQ(DomainError("A", 1, "x"), DomainError("A", 1, "x"));
    EXPECT_FALSE(DomainError("A", 1, "x") == DomainError("A", 2, "x"));
}

TEST(Observable, ObserversMayDestroyTheOwnerAndNaNIsStoredOnce)
{
    struct View : ObservableObject {
        Observable<int> state{0, changes()};
    };
    auto view = std::make_unique<View>();
    int ownerCalls = 0;
    auto closing = view->state.subscribe([&] { view.reset(); });
    auto owner = view->subscribe([&] { ++ownerCalls; });
    EXPECT_TRUE(view->state.set(1));
    EXPECT_EQ(view, nullptr);
    EXPECT_EQ(ownerCalls, 1) << "the owner's observers still hear the change";

    Observable<double> level{0.0};
    Observable<std::optional<float>> peak{std::nullopt};
    int calls = 0;
    auto a = level.subscribe([&] { ++calls; });
    auto b = peak.subscribe([&] { ++calls; });
    EXPECT_TRUE(level.set(std::nan("")));
    EXPECT_FALSE(level.set(std::nan("")));
    EXPECT_TRUE(peak.set(std::nanf("")));
    EXPECT_FALSE(peak.set(std::nanf("")));
    EXPECT_TRUE(peak.set(std::nullopt));
    EXPECT_EQ(calls, 3);
}

TEST(Observable, SettingOffTheMainActorIsCaughtInDebugBuilds)
{
    ManualRuntime runtime;
    Observable<int> value{0};
    EXPECT_TRUE(onMainActor());
    EXPECT_TRUE(runtime.executor().onMainActor());
    bool elsewhere = true;
    std::thread([&] { elsewhere = onMainActor(); }).join();
    EXPECT_FALSE(elsewhere);
    EXPECT_DEBUG_DEATH(std::thread([&] { value.set(1); }).join(), "off the main actor");
}

TEST(Error, WhatIsComputedOnceAndSharedByThreads)
{
    struct Changing : Error {
        std::string* source;
        explicit Changing(std::string* s) : source(s) {}
        std::string localizedDescription() const override { return *source; }
    };
    std::string text = "first text, long enough to live on the heap";
    const Changing error(&text);
    const char* first = error.what();
    text = "a second text, longer than the first one, which would move the buffer";
    EXPECT_EQ(error.what(), first);
    EXPECT_STREQ(first, "first text, long enough to live on the heap");
    EXPECT_EQ(error.localizedDescription(), text) << "the user's text is still read fresh";

    const Changing shared(&text);
    std::vector<std::thread> readers;
    std::vector<const char*> seen(4);
    for (std::size_t i = 0; i < seen.size(); ++i)
        readers.emplace_back([&, i] { seen[i] = shared.what(); });
    for (auto& reader : readers)
        reader.join();
    for (const char* each : seen)
        EXPECT_EQ(each, seen[0]);
}

TEST(UuidSource, TheSeatGivesCountingIdsInTestsAndRandomOnesOtherwise)
{
    auto random = newUuid();
    EXPECT_EQ(random.toString()[14], '4') << "random version 4 without a source in the seat";
    CountingUuidSource counting;
    {
        UuidSourceScope seat(counting);
        EXPECT_EQ(newUuid().toString(), "00000000-0000-0000-0000-000000000001");
        CountingUuidSource inner;
        {
            UuidSourceScope nested(inner);
            EXPECT_EQ(newUuid().toString(), "00000000-0000-0000-0000-000000000001");
        }
        EXPECT_EQ(newUuid().toString(), "00000000-0000-0000-0000-000000000002");
        for (int i = 0; i < 253; ++i)
            newUuid();
        EXPECT_EQ(newUuid().toString(), "00000000-0000-0000-0000-000000000100");
    }
    EXPECT_EQ(counting.count(), 256u);
    EXPECT_NE(newUuid(), Uuid::parse("00000000-0000-0000-0000-000000000101"));
}
