#include "history/CallLanguageName.h"

#include "platform/Platform.h"
#include "platform/TextServices.h"
#include "speech/InterfaceLanguage.h"

#include <algorithm>
#include <array>

namespace parlaro {

namespace {

// The ids of the call-language table, in table order.
constexpr std::array<std::string_view, 20> callLanguageIds{
    "zh-Hans", "zh-Hant", "en", "ja", "ko", "de", "fr", "es", "it", "pt-BR",
    "ru",      "ar",      "th", "vi", "tr", "nl", "pl", "uk", "hi", "id",
};

} // namespace

std::optional<std::string> callLanguageName(std::string_view id)
{
    if (std::find(callLanguageIds.begin(), callLanguageIds.end(), id) == callLanguageIds.end())
        return std::nullopt;
    const std::string locale = InterfaceLanguage::current();
    const TextServices& text = *platform().text;
    if (id == "zh-Hant") {
        std::string name = text.displayName("zh-Hant", locale);
        if (name.empty())
            name = "zh-Hant";
        if (auto comma = name.find(", "); comma != std::string::npos)
            name = name.substr(0, comma) + " (" + name.substr(comma + 2) + ")";
        return name;
    }
    const std::string_view code = id.substr(0, id.find('-'));
    std::string name = text.displayName(code, locale);
    return name.empty() ? std::string(id) : name;
}

} // namespace parlaro
