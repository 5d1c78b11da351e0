#include "speech/PluralForms.h"

#include <unicode/locid.h>
#include <unicode/plurrule.h>
#include <unicode/unistr.h>

#include <charconv>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

namespace parlaro {

namespace {

constexpr std::string_view marker = "plural";
// Blocks nested deeper than any wording needs stay as written: each level
// is a step of recursion, and a table is text from a file.
constexpr int deepestBlock = 16;

// Rules are costly to build and texts are looked up on every render.
std::string categoryOf(double number, const std::string& locale)
{
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<icu::PluralRules>> rules;
    std::lock_guard lock(mutex);
    auto found = rules.find(locale);
    if (found == rules.end()) {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::PluralRules> made(
            icu::PluralRules::forLocale(icu::Locale::forLanguageTag(locale, status), status));
        if (U_FAILURE(status))
            made.reset();
        found = rules.emplace(locale, std::move(made)).first;
    }
    if (!found->second)
        return "other";
    std::string category;
    found->second->select(number).toUTF8String(category);
    return category;
}

std::optional<double> numberIn(std::string_view text)
{
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\n'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

// The end of the braces opened at `open` (the index after the matching
// "}"), or npos when they never close.
std::size_t closing(std::string_view text, std::size_t open)
{
    int depth = 0;
    for (std::size_t i = open; i < text.size(); ++i) {
        if (text[i] == '{')
            ++depth;
        else if (text[i] == '}' && --depth == 0)
            return i + 1;
    }
    return std::string_view::npos;
}

struct Block {
    std::size_t argument = 0;
    // The text after "plural," up to the block's closing brace.
    std::string_view forms;
};

// Reads "{N, plural, forms}" from the text of a whole block.
std::optional<Block> readBlock(std::string_view block)
{
    std::string_view inside = block.substr(1, block.size() - 2);
    const auto firstComma = inside.find(',');
    if (firstComma == std::string_view::npos)
        return std::nullopt;
    const std::string_view number = trimmed(inside.substr(0, firstComma));
    std::size_t argument = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), argument);
    if (number.empty() || error != std::errc() || end != number.data() + number.size())
        return std::nullopt;
    inside.remove_prefix(firstComma + 1);
    const auto secondComma = inside.find(',');
    if (secondComma == std::string_view::npos || trimmed(inside.substr(0, secondComma)) != marker)
        return std::nullopt;
    return Block{argument, inside.substr(secondComma + 1)};
}

std::string resolve(std::string_view text, const std::vector<std::string>& arguments, const std::string& locale,
                    const std::string* count, int depth);

// The chosen form of one block, resolved in turn; none when the block does
// not read as one (it then stays as written).
std::optional<std::string> chooseForm(const Block& block, const std::vector<std::string>& arguments,
                                      const std::string& locale, int depth)
{
    const std::string* count = block.argument < arguments.size() ? &arguments[block.argument] : nullptr;
    const std::optional<double> number = count ? numberIn(*count) : std::nullopt;
    const std::string category = number ? categoryOf(*number, locale) : "other";
    std::optional<std::string_view> exact;
    std::optional<std::string_view> byCategory;
    std::optional<std::string_view> other;
    std::string_view rest = block.forms;
    while (!trimmed(rest).empty()) {
        const auto open = rest.find('{');
        if (open == std::string_view::npos)
            return std::nullopt;
        const std::string_view selector = trimmed(rest.substr(0, open));
        const auto end = closing(rest, open);
        if (selector.empty() || end == std::string_view::npos)
            return std::nullopt;
        const std::string_view form = rest.substr(open + 1, end - open - 2);
        if (selector.front() == '=') {
            const auto value = numberIn(selector.substr(1));
            if (!value)
                return std::nullopt;
            if (number && *value == *number && !exact)
                exact = form;
        } else if (selector == "other") {
            other = form;
        } else if (selector == category && !byCategory) {
            byCategory = form;
        }
        rest.remove_prefix(end);
    }
    if (!other)
        return std::nullopt;
    const std::string_view chosen = exact ? *exact : byCategory ? *byCategory : *other;
    return resolve(chosen, arguments, locale, count, depth);
}

// Replaces every block at this level (`depth` blocks lie around it);
// inside a chosen form "#" is that block's argument.
std::string resolve(std::string_view text, const std::vector<std::string>& arguments, const std::string& locale,
                    const std::string* count, int depth)
{
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '#' && count) {
            out += *count;
            ++i;
            continue;
        }
        if (c == '{' && depth < deepestBlock) {
            const auto end = closing(text, i);
            if (end != std::string_view::npos) {
                if (const auto block = readBlock(text.substr(i, end - i))) {
                    if (auto form = chooseForm(*block, arguments, locale, depth + 1)) {
                        out += *form;
                        i = end;
                        continue;
                    }
                }
            }
        }
        out.push_back(c);
        ++i;
    }
    return out;
}

}  // namespace

std::string choosePluralForms(const std::string& text, const std::vector<std::string>& arguments,
                              const std::string& locale)
{
    if (text.find(marker) == std::string::npos)
        return text;
    return resolve(text, arguments, locale, nullptr, 0);
}

}  // namespace parlaro
