#pragma once

#include <array>

namespace parlaro::app {

// A ready-made sentence: the Chinese menu label (a localized key) and the
// English sentence sent.
struct QuickPhrase {
    const char* zh;
    const char* en;
};

inline constexpr std::array<QuickPhrase, 6> quickPhrases{{
    {"请稍等", "One moment, please."},
    {"请再说一遍", "Sorry, could you please repeat that?"},
    {"请说慢一点", "Could you please speak a little more slowly?"},
    {"我在用翻译软件", "I'm using a translation app, so there may be a short delay. Thank you for your patience."},
    {"可以发邮件给我吗", "Could you please send me the details by email?"},
    {"好的，谢谢", "Okay, thank you."},
}};

}  // namespace parlaro::app
