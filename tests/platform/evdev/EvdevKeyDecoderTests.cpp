#include "platform/GlobalKeys.h"
#include "platform/linux/evdev/EvdevKeyDecoder.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <vector>

using namespace parlaro;
using sys::EvdevKeyDecoder;
using Output = EvdevKeyDecoder::Output;

namespace {

struct Event {
    std::uint16_t type;
    std::uint16_t code;
    std::int32_t value;
};

// What a USB keyboard writes for one key change: the scan code, the key, a sync.
std::vector<Event> key(std::uint16_t code, std::int32_t value)
{
    return {{EV_MSC, MSC_SCAN, 0x700e2}, {EV_KEY, code, value}, {EV_SYN, SYN_REPORT, 0}};
}

std::vector<Output> play(EvdevKeyDecoder& decoder, const std::vector<std::vector<Event>>& recording, int device = 3)
{
    std::vector<Output> out;
    for (const auto& report : recording)
        for (const Event& event : report)
            for (const Output& output : decoder.feed(device, event.type, event.code, event.value))
                out.push_back(output);
    return out;
}

Output hotKey(bool pressed)
{
    return {Output::Kind::hotKey, pressed};
}
Output flags(std::uint16_t code, std::uint64_t bits)
{
    return {Output::Kind::tap, false, GlobalKeys::flagsChangedType, code, bits};
}
Output keyDown(std::uint16_t code)
{
    return {Output::Kind::tap, false, GlobalKeys::keyDownType, code, 0};
}

}  // namespace

TEST(EvdevKeyDecoder, CombinationFiresOnlyWithExactlyItsModifiersAndIgnoresRepeats)
{
    EvdevKeyDecoder decoder;
    decoder.setCombination(KEY_SPACE, 0x800);
    EXPECT_TRUE(decoder.listening());
    auto out = play(decoder,
                    {key(KEY_RIGHTALT, 1), key(KEY_SPACE, 1), key(KEY_SPACE, 2), key(KEY_SPACE, 2), key(KEY_SPACE, 0),
                     key(KEY_RIGHTALT, 0)});
    EXPECT_EQ(out, (std::vector<Output>{hotKey(true), hotKey(false)})) << "either Alt, repeats ignored";

    // The key released after its modifier still ends the hold.
    out = play(decoder, {key(KEY_LEFTALT, 1), key(KEY_SPACE, 1), key(KEY_LEFTALT, 0), key(KEY_SPACE, 0)});
    EXPECT_EQ(out, (std::vector<Output>{hotKey(true), hotKey(false)}));

    // More modifiers, none, or the modifier after the key: nothing.
    out = play(decoder,
               {key(KEY_LEFTALT, 1), key(KEY_LEFTSHIFT, 1), key(KEY_SPACE, 1), key(KEY_SPACE, 0), key(KEY_LEFTSHIFT, 0),
                key(KEY_LEFTALT, 0), key(KEY_SPACE, 1), key(KEY_LEFTALT, 1), key(KEY_SPACE, 0), key(KEY_LEFTALT, 0)});
    EXPECT_TRUE(out.empty());

    // Keys held when reading stopped do not count once it starts again.
    play(decoder, {key(KEY_LEFTCTRL, 1)});
    decoder.forgetKeys();
    out = play(decoder, {key(KEY_LEFTALT, 1), key(KEY_SPACE, 1), key(KEY_SPACE, 0), key(KEY_LEFTALT, 0)});
    EXPECT_EQ(out, (std::vector<Output>{hotKey(true), hotKey(false)}));

    decoder.setCombination(std::nullopt);
    EXPECT_FALSE(decoder.listening());
    EXPECT_TRUE(play(decoder, {key(KEY_LEFTALT, 1), key(KEY_SPACE, 1), key(KEY_SPACE, 0)}).empty());
}

TEST(EvdevKeyDecoder, ModifierWatchReportsFlagsAndKeysOnlyWhileAsked)
{
    EvdevKeyDecoder decoder;
    decoder.setModifierWatch(true);
    auto out = play(decoder, {key(KEY_RIGHTALT, 1)});
    EXPECT_EQ(out, (std::vector<Output>{flags(61, GlobalKeys::rightAltFlag)}));

    // Not asked for ordinary keys yet.
    EXPECT_TRUE(play(decoder, {key(KEY_A, 1), key(KEY_A, 0)}).empty());

    decoder.setKeyWatch(true);
    out = play(decoder, {key(KEY_A, 1), key(KEY_A, 2), key(KEY_A, 0), key(KEY_LEFTSHIFT, 1), key(KEY_RIGHTALT, 0)});
    EXPECT_EQ(out, (std::vector<Output>{keyDown(0), flags(56, GlobalKeys::rightAltFlag), flags(61, 0)}))
        << "a letter once, then another modifier carrying the held key's bit, then the release";

    decoder.setModifierWatch(false);
    decoder.setKeyWatch(false);
    EXPECT_TRUE(play(decoder, {key(KEY_LEFTSHIFT, 0), key(KEY_RIGHTALT, 1)}).empty());
}

TEST(EvdevKeyDecoder, VanishingKeyboardInterruptsAHoldAndForgetsItsKeys)
{
    EvdevKeyDecoder decoder;
    decoder.setCombination(KEY_F1, 0);
    play(decoder, {key(KEY_F1, 1)}, 3);
    auto out = decoder.deviceLost(3);
    EXPECT_EQ(out, (std::vector<Output>{{Output::Kind::tap, false, GlobalKeys::watchDisabledType, 0, 0}}));

    // A modifier held on the lost keyboard no longer counts.
    decoder.setCombination(KEY_SPACE, 0x1000);
    play(decoder, {key(KEY_LEFTCTRL, 1)}, 4);
    EXPECT_TRUE(decoder.deviceLost(4).empty()) << "no hold was in progress";
    EXPECT_TRUE(play(decoder, {key(KEY_SPACE, 1), key(KEY_SPACE, 0)}, 5).empty()) << "its Control is gone";

    // A lost keyboard that held nothing interrupts nothing.
    decoder.setModifierWatch(true);
    EXPECT_TRUE(decoder.deviceLost(6).empty());
    play(decoder, {key(KEY_RIGHTALT, 1)}, 7);
    EXPECT_EQ(decoder.deviceLost(7).size(), 1u);
}
