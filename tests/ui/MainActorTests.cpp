#include "UiWorld.h"

#include "speech/InterfaceLanguage.h"
#include "ui/LayoutDirectionFollower.h"
#include "ui/MainActorPump.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

using namespace parlaro;

TEST(MainActorPump, QtEventLoopRunsPostsFromAnyThreadAndStopsWithThePump)
{
    test::UiWorld world;
    auto& executor = world.runtime.executor();
    int ran = 0;
    {
        ui::MainActorPump pump(executor);
        executor.post([&] { ++ran; });
        std::thread other([&] {
            for (int i = 0; i < 5; ++i)
                executor.post([&] { ++ran; });
        });
        other.join();
        EXPECT_EQ(ran, 0);
        QApplication::sendPostedEvents();
        EXPECT_EQ(ran, 6);
        EXPECT_EQ(executor.pendingJobs(), 0u);

        // A job that posts another leaves it to the next drain, which is queued
        // behind the events that were waiting.
        executor.post([&] { executor.post([&] { ++ran; }); });
        QApplication::sendPostedEvents();
        EXPECT_EQ(ran, 6);
        QApplication::sendPostedEvents();
        EXPECT_EQ(ran, 7);
    }
    executor.post([&] { ++ran; });
    QApplication::sendPostedEvents();
    EXPECT_EQ(ran, 7) << "no drain without a pump";
    world.runtime.runUntilIdle();
    EXPECT_EQ(ran, 8);
}

TEST(LayoutDirectionFollower, FollowsTheInterfaceLanguage)
{
    test::UiWorld world;
    ui::LayoutDirectionFollower follower;
    EXPECT_EQ(QApplication::layoutDirection(), Qt::LeftToRight);
    InterfaceLanguage::set("ar");
    world.settle();
    EXPECT_EQ(QApplication::layoutDirection(), Qt::RightToLeft);
    InterfaceLanguage::set("en");
    world.settle();
    EXPECT_EQ(QApplication::layoutDirection(), Qt::LeftToRight);
}
