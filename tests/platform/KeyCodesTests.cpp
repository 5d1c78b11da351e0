#include "platform/KeyCodes.h"

#include <gtest/gtest.h>

#include <set>

using namespace parlaro;

TEST(KeyCodes, EveryRowRoundTripsAndNamedKeysSitWhereExpected)
{
    std::set<std::uint16_t> codes;
    std::set<std::uint16_t> evdevCodes;
    for (const keycodes::Row& row : keycodes::table()) {
        EXPECT_TRUE(codes.insert(row.code).second) << "code " << row.code << " twice";
        EXPECT_TRUE(evdevCodes.insert(row.evdev).second) << "evdev " << row.evdev << " twice";
        EXPECT_EQ(keycodes::toEvdev(row.code), row.evdev);
        EXPECT_EQ(keycodes::fromEvdev(row.evdev), row.code);
    }
    EXPECT_GE(keycodes::table().size(), 110u);

    const std::pair<std::uint16_t, std::uint16_t> known[] = {
        {0, 30}, {49, 57}, {122, 59}, {61, 100}, {58, 56}, {54, 126}, {62, 97}, {60, 54}, {63, 464},
    };
    for (auto [code, evdev] : known)
        EXPECT_EQ(keycodes::toEvdev(code), evdev) << code;
    EXPECT_EQ(keycodes::toEvdev(52), std::nullopt);
    EXPECT_EQ(keycodes::fromEvdev(0), std::nullopt);
}
