#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace parlaro {

// One of the 20 languages a side of a call can speak.
struct CallLanguage {
    // The key stored in the settings and in conversation records.
    std::string id;
    // A short badge for compact places.
    std::string tag;
    // The locale speech is recognized under.
    std::string speechLocale;
    // Voice languages accepted for speech output, best first.
    std::vector<std::string> voiceLocales;
    // The sentence spoken when the user previews a voice.
    std::string sample;

    bool operator==(const CallLanguage&) const = default;

    // The language's name in the current interface language.
    std::string displayName() const;

    // The table, built on first use and never changed afterwards. The
    // Chinese, Traditional Chinese, Japanese and Korean badges are localized
    // once, in the interface language current at that moment.
    static const std::vector<CallLanguage>& all();
    // The first row; also built on its own when asked for before the table.
    static const CallLanguage& chinese();

    // The row whose id is exactly `id`.
    static std::optional<CallLanguage> find(const std::optional<std::string>& id);
    // The row that serves a system language identifier ("en-GB" -> en,
    // "zh-HK" -> zh-Hant, "pt-PT" -> pt-BR); none for a language without a row.
    static std::optional<CallLanguage> matching(const std::optional<std::string>& identifier);
    // (mine, theirs) at first start, from the system-wide preferred languages.
    static std::pair<CallLanguage, CallLanguage> systemDefault();
};

}  // namespace parlaro

template <>
struct std::hash<parlaro::CallLanguage> {
    std::size_t operator()(const parlaro::CallLanguage& language) const noexcept;
};
