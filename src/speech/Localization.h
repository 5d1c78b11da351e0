#pragma once

#include <charconv>
#include <concepts>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace parlaro {

// The text of one placeholder argument: strings as they are, numbers in
// their shortest decimal form, anything else through its description().
inline std::string argumentText(std::string_view text)
{
    return std::string(text);
}
inline std::string argumentText(const char* text)
{
    return std::string(text);
}
inline std::string argumentText(const std::string& text)
{
    return text;
}
template <std::integral T>
requires(!std::same_as<T, bool> && !std::same_as<T, char>) std::string argumentText(T value)
{
    return std::to_string(value);
}
inline std::string argumentText(bool value)
{
    return value ? "true" : "false";
}
template <std::floating_point T>
std::string argumentText(T value)
{
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}
template <class T>
requires requires(const T& v)
{
    {
        v.description()
        } -> std::convertible_to<std::string>;
}
std::string argumentText(const T& value)
{
    return value.description();
}

// Fills "%1$@"-style placeholders when the format has "%1$@", else "%@" in
// order. Only the format is scanned: text an argument brings in is never
// taken for a placeholder.
std::string fillPlaceholders(const std::string& format, const std::vector<std::string>& arguments);

// Looks `key` up in the current interface language (the key itself when the
// table has no entry) and fills it with the arguments.
std::string localizedText(const std::string& key, const std::vector<std::string>& arguments);

// Joins whole sentences as the language writes them: directly after one that
// ends in a full-width mark ("。", "！", "」"), with a space after any other,
// so two translated sentences never run together as "…here.The…".
std::string joinSentences(const std::vector<std::string>& sentences);

// A text followed by an aside in brackets, as the interface language writes
// them: "Ich (Spanisch)", "我（西班牙语）", "…introuvable (VM-4)". With no text,
// the bracketed aside alone.
std::string bracketed(const std::string& text, const std::string& aside);

// A path set into a sentence of the interface language. In a right-to-left
// language it is isolated as left-to-right text (U+2066 ... U+2069): else
// the bidirectional order moves its leading "/" to the far end and may pull
// the neighbouring words into it. Elsewhere it is returned as it is, so
// that copied text stays plain where nothing needs the marks.
std::string pathText(const std::string& path);

// Text of the system's own, in a language of its own (an error text a
// library gives), set into a sentence of the interface language: in a
// right-to-left language isolated in the direction its first letter gives
// (U+2068 ... U+2069), so its words keep their order; elsewhere as it is.
std::string foreignText(const std::string& text);

template <class... Args>
std::string localized(const std::string& key, const Args&... args)
{
    return localizedText(key, std::vector<std::string>{argumentText(args)...});
}

}  // namespace parlaro
