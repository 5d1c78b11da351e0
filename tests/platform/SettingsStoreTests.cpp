#include "platform/sim/SimSettingsStore.h"

#include <gtest/gtest.h>

namespace parlaro {
namespace {

TEST(DefaultsValue, KeepsTheTypeItWasGiven)
{
    EXPECT_TRUE(DefaultsValue("text").holds<std::string>());
    EXPECT_TRUE(DefaultsValue(true).holds<bool>());
    EXPECT_TRUE(DefaultsValue(7).holds<std::int64_t>());
    EXPECT_TRUE(DefaultsValue(7u).holds<std::int64_t>());
    EXPECT_TRUE(DefaultsValue(2.0f).holds<double>());
    EXPECT_TRUE(DefaultsValue(DefaultsData{1, 2}).holds<DefaultsData>());
    EXPECT_TRUE(DefaultsValue(DefaultsStringList{"a"}).holds<DefaultsStringList>());
    EXPECT_TRUE(DefaultsValue(DefaultsDictionary{{"k", 1}}).holds<DefaultsDictionary>());
    EXPECT_NE(DefaultsValue(1), DefaultsValue(1.0));
    EXPECT_NE(DefaultsValue(true), DefaultsValue(1));
}

TEST(SimSettingsStore, TypedReadsWritesAndFailures)
{
    sim::SimSettingsStore defaults;
    EXPECT_FALSE(defaults.has("volume"));
    EXPECT_EQ(defaults.get<double>("volume"), std::nullopt);

    defaults.set("volume", 0.75);
    defaults.set("languages", DefaultsStringList{"zh-Hans", "en"});
    defaults.set("nested", DefaultsDictionary{{"count", 3}, {"name", "x"}});
    EXPECT_EQ(defaults.get<double>("volume"), 0.75);
    EXPECT_EQ(defaults.get<std::int64_t>("volume"), std::nullopt);
    EXPECT_EQ(defaults.get<std::string>("volume"), std::nullopt);
    EXPECT_EQ(defaults.get<DefaultsStringList>("languages"), (DefaultsStringList{"zh-Hans", "en"}));
    const auto nested = defaults.get<DefaultsDictionary>("nested");
    ASSERT_TRUE(nested);
    EXPECT_EQ(nested->at("count"), DefaultsValue(3));

    defaults.set("volume", "loud");
    EXPECT_EQ(defaults.get<std::string>("volume"), "loud");
    EXPECT_EQ(defaults.get<double>("volume"), std::nullopt);

    defaults.failWrites(DomainError("SettingsStore", 1, "disk full"));
    EXPECT_THROW(defaults.set("volume", 1.0), DomainError);
    EXPECT_THROW(defaults.remove("volume"), DomainError);
    EXPECT_EQ(defaults.get<std::string>("volume"), "loud");
    defaults.failWrites(std::nullopt);

    defaults.remove("volume");
    defaults.remove("never-there");
    EXPECT_FALSE(defaults.has("volume"));
    EXPECT_EQ(defaults.snapshot().size(), 2u);
}

}  // namespace
}  // namespace parlaro
