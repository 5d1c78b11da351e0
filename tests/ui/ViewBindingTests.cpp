#include "UiWorld.h"

#include "runtime/Observable.h"
#include "speech/InterfaceLanguage.h"
#include "speech/Localization.h"
#include "ui/ViewBinding.h"

#include <gtest/gtest.h>

#include <memory>

using namespace parlaro;

TEST(ViewBinding, CoalescesChangesOfOneTurnFollowsTheLanguageAndStopsWithTheView)
{
    test::UiWorld world;
    rt::Observable<int> a{0};
    rt::Observable<int> b{0};
    rt::Observable<int> c{0};
    int refreshes = 0;
    int seen = 0;
    auto binding = std::make_unique<ui::ViewBinding>([&] {
        ++refreshes;
        seen = a() + b() + c();
        localized("安静");
    });
    EXPECT_EQ(refreshes, 1);

    a.set(1);
    b.set(2);
    c.set(3);
    EXPECT_EQ(refreshes, 1) << "a refresh waits for the executor";
    world.settle();
    EXPECT_EQ(refreshes, 2);
    EXPECT_EQ(seen, 6);

    // Still tracked after a refresh, and an equal store is silent.
    c.set(3);
    world.settle();
    EXPECT_EQ(refreshes, 2);
    a.set(10);
    world.settle();
    EXPECT_EQ(refreshes, 3);

    InterfaceLanguage::set("en");
    world.settle();
    EXPECT_EQ(refreshes, 4);

    b.set(7);
    binding.reset();
    world.settle();
    EXPECT_EQ(refreshes, 4) << "no refresh after the view is gone";
    a.set(11);
    world.settle();
    EXPECT_EQ(refreshes, 4);
}

TEST(ViewBinding, AViewMayCloseItselfInItsRefresh)
{
    test::UiWorld world;
    rt::Observable<bool> closing{false};
    std::unique_ptr<ui::ViewBinding> binding;
    int refreshes = 0;
    binding = std::make_unique<ui::ViewBinding>([&] {
        ++refreshes;
        if (closing())
            binding.reset();
    });
    closing.set(true);
    world.settle();
    EXPECT_EQ(refreshes, 2);
    EXPECT_EQ(binding, nullptr);
    closing.set(false);
    world.settle();
    EXPECT_EQ(refreshes, 2);
}
