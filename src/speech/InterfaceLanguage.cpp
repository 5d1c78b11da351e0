#include "speech/InterfaceLanguage.h"

#include "platform/Platform.h"
#include "platform/PreferredLanguages.h"
#include "platform/ResourceBundles.h"
#include "platform/SettingsStore.h"
#include "platform/TextServices.h"
#include "runtime/Error.h"

#include <optional>
#include <utility>
#include <vector>

namespace parlaro::InterfaceLanguage {

namespace {

constexpr const char* interfaceLanguageKey = "interfaceLanguage";
// The program's own list of preferred interface languages, mirroring the
// choice. Earlier versions stored it under a key borrowed from another
// system; it is read from there once and moved.
constexpr const char* preferredLanguagesKey = "parlaroPreferredLanguages";
constexpr const char* legacyPreferredLanguagesKey = "AppleLanguages";

std::optional<DefaultsStringList> storedPreferences(SettingsStore& defaults)
{
    if (auto list = defaults.get<DefaultsStringList>(preferredLanguagesKey))
        return list;
    auto legacy = defaults.get<DefaultsStringList>(legacyPreferredLanguagesKey);
    if (!legacy)
        return std::nullopt;
    try {
        defaults.set(preferredLanguagesKey, *legacy);
        defaults.remove(legacyPreferredLanguagesKey);
    } catch (const Error&) {
        // Not moved: the old key stays and is read again next time, so the
        // user's choice holds either way.
    }
    return legacy;
}

}  // namespace

const std::vector<Entry>& supported()
{
    static const std::vector<Entry> table{
        {"zh-Hans", "简体中文"},    {"zh-Hant", "繁體中文"}, {"en", "English"},
        {"ja", "日本語"},           {"ko", "한국어"},        {"es", "Español"},
        {"de", "Deutsch"},          {"fr", "Français"},      {"pt-BR", "Português (Brasil)"},
        {"it", "Italiano"},         {"tr", "Türkçe"},        {"nl", "Nederlands"},
        {"pl", "Polski"},           {"vi", "Tiếng Việt"},    {"th", "ไทย"},
        {"id", "Bahasa Indonesia"}, {"ar", "العربية"},
    };
    return table;
}

namespace {
Revision* installedRevision = nullptr;
}  // namespace

Revision& Revision::shared()
{
    static Revision program;
    return installedRevision ? *installedRevision : program;
}

Revision::Scope::Scope(Revision& revision) : previous_(std::exchange(installedRevision, &revision))
{
}

Revision::Scope::~Scope()
{
    installedRevision = previous_;
}

std::string Bundle::lookup(const std::string& key) const
{
    if (table) {
        if (auto it = table->find(key); it != table->end())
            return it->second;
    }
    // Untranslated, a key with a sense shows its text without the sense.
    if (key.ends_with(senseClose)) {
        if (auto open = key.rfind(senseOpen); open != std::string::npos)
            return key.substr(0, open);
    }
    return key;
}

std::string current()
{
    const auto& services = platform();
    // Read first, so the earlier key moves whichever key decides.
    std::optional<DefaultsStringList> list = storedPreferences(*services.defaults);
    if (auto stored = services.defaults->get<std::string>(interfaceLanguageKey); stored && !stored->empty())
        return *stored;
    std::vector<std::string> preferences;
    if (list)
        preferences = *list;
    else
        preferences = services.preferredLanguages->preferredLanguages();
    auto chosen = services.text->preferredLocalizations(services.bundles->localizations(), preferences);
    return chosen.empty() ? "en" : chosen.front();
}

void set(const std::string& code)
{
    std::string chosen;
    for (const auto& entry : supported()) {
        if (entry.code == code)
            chosen = code;
    }
    auto& defaults = *platform().defaults;
    // The keys are read together, so a write that fails part-way puts back
    // the ones already written: the language in force stays one choice.
    std::vector<std::pair<const char*, std::optional<DefaultsValue>>> previous;
    for (const char* key : {interfaceLanguageKey, preferredLanguagesKey, legacyPreferredLanguagesKey})
        previous.emplace_back(key, defaults.value(key));
    std::size_t written = 0;
    try {
        defaults.set(interfaceLanguageKey, chosen);
        ++written;
        if (!chosen.empty())
            defaults.set(preferredLanguagesKey, DefaultsStringList{chosen});
        else
            defaults.remove(preferredLanguagesKey);
        ++written;
        defaults.remove(legacyPreferredLanguagesKey);
    } catch (...) {
        for (std::size_t i = 0; i < written; ++i) {
            const auto& [key, value] = previous[i];
            try {
                if (value)
                    defaults.set(key, *value);
                else
                    defaults.remove(key);
            } catch (...) {
                // The store refuses writes altogether; the first failure is
                // the one to report.
            }
        }
        throw;
    }
    auto& revision = Revision::shared().value;
    revision.set(revision.get() + 1);
}

Bundle bundle()
{
    Revision::shared().value.get();  // registers the caller's dependency on language changes
    auto code = current();
    // openTable accepts only plain tag names, so a hand-edited value such as
    // "../x" can never reach outside the string tables.
    if (auto table = platform().bundles->openTable(code))
        return Bundle{code, std::move(table)};
    return Bundle{};
}

LayoutDirection layoutDirection()
{
    Revision::shared().value.get();
    return platform().text->characterDirection(current()) == CharacterDirection::rightToLeft
        ? LayoutDirection::rightToLeft
        : LayoutDirection::leftToRight;
}

std::string list(const std::vector<std::string>& items)
{
    auto joined = platform().text->listFormat(items, current());
    if (!joined.empty() || items.empty())
        return joined;
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i)
            text += ", ";
        text += items[i];
    }
    return text;
}

}  // namespace parlaro::InterfaceLanguage
