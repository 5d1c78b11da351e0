#include "speech/CallLanguage.h"

#include "platform/Platform.h"
#include "platform/PreferredLanguages.h"
#include "platform/TextServices.h"
#include "speech/InterfaceLanguage.h"
#include "speech/Localization.h"

#include <unicode/locid.h>

#include <algorithm>

namespace parlaro {

namespace {

CallLanguage makeChinese()
{
    return {"zh-Hans", localized("中"), "zh-CN", {"zh-CN"}, "你好，这是我的声音试听。"};
}

std::vector<CallLanguage> makeTable()
{
    return {
        CallLanguage::chinese(),
        {"zh-Hant", localized("繁"), "zh-TW", {"zh-TW"}, "你好，這是我的聲音試聽。"},
        {"en", "EN", "en-US", {"en-US", "en"}, "Hello, this is a preview of my voice."},
        {"ja", localized("日"), "ja-JP", {"ja-JP"}, "こんにちは、これは私の声のプレビューです。"},
        {"ko", localized("韩"), "ko-KR", {"ko-KR"}, "안녕하세요, 제 목소리 미리 듣기입니다."},
        {"de", "DE", "de-DE", {"de-DE", "de"}, "Hallo, das ist eine Vorschau meiner Stimme."},
        {"fr", "FR", "fr-FR", {"fr-FR", "fr"}, "Bonjour, ceci est un aperçu de ma voix."},
        {"es", "ES", "es-ES", {"es-ES", "es"}, "Hola, esta es una muestra de mi voz."},
        {"it", "IT", "it-IT", {"it-IT"}, "Ciao, questa è un'anteprima della mia voce."},
        {"pt-BR", "PT", "pt-BR", {"pt-BR", "pt"}, "Olá, esta é uma prévia da minha voz."},
        {"ru", "RU", "ru-RU", {"ru-RU"}, "Здравствуйте, это пример моего голоса."},
        {"ar", "AR", "ar-SA", {"ar-001", "ar"}, "مرحبًا، هذه معاينة لصوتي."},
        {"th", "TH", "th-TH", {"th-TH"}, "สวัสดี นี่คือตัวอย่างเสียงของฉัน"},
        {"vi", "VI", "vi-VN", {"vi-VN"}, "Xin chào, đây là bản nghe thử giọng của tôi."},
        {"tr", "TR", "tr-TR", {"tr-TR"}, "Merhaba, bu sesimin bir önizlemesidir."},
        {"nl", "NL", "nl-NL", {"nl-NL", "nl"}, "Hallo, dit is een voorbeeld van mijn stem."},
        {"pl", "PL", "pl-PL", {"pl-PL"}, "Cześć, to jest próbka mojego głosu."},
        {"uk", "UK", "uk-UA", {"uk-UA"}, "Привіт, це попередній перегляд мого голосу."},
        {"hi", "HI", "hi-IN", {"hi-IN"}, "नमस्ते, यह मेरी आवाज़ का नमूना है।"},
        {"id", "ID", "id-ID", {"id-ID"}, "Halo, ini adalah contoh suara saya."},
    };
}

std::optional<CallLanguage> rowWithId(const std::string& id)
{
    const auto& table = CallLanguage::all();
    auto found = std::find_if(table.begin(), table.end(), [&](const CallLanguage& row) { return row.id == id; });
    if (found == table.end())
        return std::nullopt;
    return *found;
}

// The platform answers with the code itself when it has no name for it.
std::string nameOf(const std::string& code, const std::string& inLocale)
{
    std::string name = platform().text->displayName(code, inLocale);
    return name == code ? std::string() : name;
}

}  // namespace

const CallLanguage& CallLanguage::chinese()
{
    static const CallLanguage row = makeChinese();
    return row;
}

const std::vector<CallLanguage>& CallLanguage::all()
{
    static const std::vector<CallLanguage> table = makeTable();
    return table;
}

std::string CallLanguage::displayName() const
{
    InterfaceLanguage::Revision::shared().value.get();  // registers the caller's dependency on language changes
    const std::string locale = InterfaceLanguage::current();
    if (id == "zh-Hant") {
        std::string name = nameOf(id, locale);
        if (name.empty())
            return id;
        // Some locales name it "Chinese, Traditional"; the menus show the
        // qualifier in parentheses instead.
        auto comma = name.find(", ");
        if (comma == std::string::npos)
            return name;
        return name.substr(0, comma) + " (" + name.substr(comma + 2) + ")";
    }
    std::string name = nameOf(id.substr(0, id.find('-')), locale);
    return name.empty() ? id : name;
}

std::optional<CallLanguage> CallLanguage::find(const std::optional<std::string>& id)
{
    if (!id)
        return std::nullopt;
    return rowWithId(*id);
}

std::optional<CallLanguage> CallLanguage::matching(const std::optional<std::string>& identifier)
{
    if (!identifier || identifier->empty())
        return std::nullopt;
    std::string tag = *identifier;
    std::replace(tag.begin(), tag.end(), '_', '-');
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale locale = icu::Locale::forLanguageTag(tag, status);
    if (U_FAILURE(status) || locale.isBogus())
        return std::nullopt;
    const std::string language = locale.getLanguage();
    if (language.empty())
        return std::nullopt;
    if (language == "zh") {
        const std::string script = locale.getScript();
        const std::string region = locale.getCountry();
        // Only a Traditional script is decisive by itself; otherwise the
        // region is, so "zh-Hans-TW" still reads as Traditional.
        const bool traditional = script == "Hant" || region == "TW" || region == "HK" || region == "MO";
        return rowWithId(traditional ? "zh-Hant" : "zh-Hans");
    }
    if (language == "pt")
        return rowWithId("pt-BR");
    return rowWithId(language);
}

std::pair<CallLanguage, CallLanguage> CallLanguage::systemDefault()
{
    // The system-wide list: the application's own list follows the
    // interface-language choice and says nothing about what the user speaks.
    const std::vector<std::string> preferred = platform().preferredLanguages->preferredLanguages();
    const CallLanguage english = *rowWithId("en");
    std::optional<CallLanguage> mine;
    if (!preferred.empty())
        mine = matching(preferred.front());
    if (!mine)
        mine = english;
    if (*mine == english) {
        auto spanish = rowWithId("es");
        return {*mine, spanish ? *spanish : chinese()};
    }
    return {*mine, english};
}

}  // namespace parlaro

std::size_t std::hash<parlaro::CallLanguage>::operator()(const parlaro::CallLanguage& language) const noexcept
{
    std::size_t seed = 0;
    auto mix = [&seed](const std::string& text) {
        seed ^= std::hash<std::string>{}(text) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
    };
    mix(language.id);
    mix(language.tag);
    mix(language.speechLocale);
    for (const auto& locale : language.voiceLocales)
        mix(locale);
    mix(language.sample);
    return seed;
}
