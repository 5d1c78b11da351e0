#include "runtime/Error.h"
#include "runtime/Observable.h"
#include "runtime/Uuid.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

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
