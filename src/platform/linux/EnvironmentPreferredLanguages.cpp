#include "platform/linux/EnvironmentPreferredLanguages.h"

#include <algorithm>
#include <cctype>

namespace parlaro::sys {
namespace {

bool allOf(std::string_view text, int (*test)(int))
{
    return std::all_of(text.begin(), text.end(), [test](char c) { return test(static_cast<unsigned char>(c)) != 0; });
}

std::string lowered(std::string_view text)
{
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return result;
}

std::string uppered(std::string_view text)
{
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
    return result;
}

// Script modifiers glibc locales use; other modifiers (euro, valencia...)
// do not change the language and are dropped.
std::optional<std::string_view> scriptOfModifier(std::string_view modifier)
{
    if (modifier == "latin") {
        return "Latn";
    }
    if (modifier == "cyrillic") {
        return "Cyrl";
    }
    if (modifier == "devanagari") {
        return "Deva";
    }
    return std::nullopt;
}

}  // namespace

EnvironmentPreferredLanguages::EnvironmentPreferredLanguages(Environment environment)
    : environment_(std::move(environment))
{
}

std::optional<std::string> EnvironmentPreferredLanguages::languageTag(std::string_view posixLocale)
{
    std::string_view rest = posixLocale;
    std::optional<std::string_view> script;
    if (auto at = rest.find('@'); at != std::string_view::npos) {
        script = scriptOfModifier(rest.substr(at + 1));
        rest = rest.substr(0, at);
    }
    if (auto dot = rest.find('.'); dot != std::string_view::npos) {
        rest = rest.substr(0, dot);
    }
    std::string_view language = rest;
    std::string_view region;
    if (auto separator = rest.find_first_of("_-"); separator != std::string_view::npos) {
        language = rest.substr(0, separator);
        region = rest.substr(separator + 1);
    }
    if (language.size() < 2 || language.size() > 3 || !allOf(language, std::isalpha)) {
        return std::nullopt;
    }
    const bool regionValid = region.empty() || (region.size() == 2 && allOf(region, std::isalpha))
        || (region.size() == 3 && allOf(region, std::isdigit));
    if (!regionValid) {
        return std::nullopt;
    }
    std::string tag = lowered(language);
    if (script) {
        tag += "-";
        tag += *script;
    }
    if (!region.empty()) {
        tag += "-" + uppered(region);
    }
    return tag;
}

std::vector<std::string> EnvironmentPreferredLanguages::preferredLanguages() const
{
    std::vector<std::string> tags;
    auto add = [&tags](std::string_view locale) {
        std::optional<std::string> tag = languageTag(locale);
        if (tag && std::find(tags.begin(), tags.end(), *tag) == tags.end()) {
            tags.push_back(std::move(*tag));
        }
    };
    if (std::optional<std::string> list = environment_("LANGUAGE")) {
        std::string_view rest = *list;
        while (!rest.empty()) {
            const auto colon = rest.find(':');
            add(rest.substr(0, colon));
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
    }
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (std::optional<std::string> locale = environment_(name); locale && !locale->empty()) {
            add(*locale);
            break;
        }
    }
    return tags;
}

}  // namespace parlaro::sys
