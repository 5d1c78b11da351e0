#include "speech/InterfaceLanguage.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Every key the code passes to localized() as a literal, unescaped.
std::set<std::string> keysUsedByCode()
{
    std::set<std::string> keys;
    const std::regex call(R"re(localized\(\s*"((?:[^"\\]|\\.)*)")re");
    for (const auto& entry : fs::recursive_directory_iterator(fs::path(PARLARO_SOURCE_DIR) / "src")) {
        auto ext = entry.path().extension();
        if (ext != ".cpp" && ext != ".h")
            continue;
        auto text = readFile(entry.path());
        for (std::sregex_iterator it(text.begin(), text.end(), call), end; it != end; ++it) {
            std::string raw = (*it)[1];
            std::string key;
            for (std::size_t i = 0; i < raw.size(); ++i) {
                if (raw[i] == '\\' && i + 1 < raw.size()) {
                    char c = raw[++i];
                    key.push_back(c == 'n' ? '\n' : c == 't' ? '\t' : c);
                } else {
                    key.push_back(raw[i]);
                }
            }
            keys.insert(key);
        }
    }
    return keys;
}

std::map<std::string, std::string> tableOf(const std::string& code)
{
    std::map<std::string, std::string> table;
    fs::path folder = fs::path(PARLARO_SOURCE_DIR) / "resources" / "i18n" / code;
    if (!fs::is_directory(folder))
        return table;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() != ".json")
            continue;
        auto json = nlohmann::json::parse(readFile(entry.path()));
        for (auto& [key, value] : json.items())
            table.emplace(key, value.get<std::string>());
    }
    return table;
}

// The placeholders of a text, in order of appearance, numbered or not. A
// text that words a count in plural forms names that argument in its blocks
// ("{0, plural, ...}"), once however many forms repeat it.
std::multiset<std::string> placeholders(const std::string& text)
{
    std::multiset<std::string> found;
    static const std::regex placeholder(R"(%(\d+\$)?@)");
    for (std::sregex_iterator it(text.begin(), text.end(), placeholder), end; it != end; ++it)
        found.insert((*it)[0]);
    static const std::regex plural(R"(\{\s*(\d+)\s*,\s*plural\s*,)");
    for (std::sregex_iterator it(text.begin(), text.end(), plural), end; it != end; ++it) {
        const std::string numbered = "%" + std::to_string(std::stoi((*it)[1]) + 1) + "$@";
        if (!found.contains(numbered))
            found.insert(numbered);
    }
    return found;
}

}  // namespace

TEST(StringTables, EveryInterfaceLanguageTranslatesEveryKeyWithItsPlaceholders)
{
    auto keys = keysUsedByCode();
    ASSERT_FALSE(keys.empty());
    for (const auto& language : parlaro::InterfaceLanguage::supported()) {
        if (language.code == "zh-Hans")
            continue;  // the keys are the Simplified Chinese texts
        auto table = tableOf(language.code);
        for (const auto& key : keys) {
            auto it = table.find(key);
            if (it == table.end()) {
                ADD_FAILURE() << language.code << " lacks \"" << key << "\"";
                continue;
            }
            auto expected = placeholders(key);
            auto got = placeholders(it->second);
            // A translation may number its placeholders where the key does not.
            EXPECT_EQ(expected.size(), got.size())
                << language.code << ": \"" << key << "\" -> \"" << it->second << "\"";
        }
    }
}

// What each language shows for every text the code asks for (the key itself
// where a table has no entry): the program's one name, never the old one,
// and no Latin sentence end run into the next sentence's first letter.
TEST(StringTables, EveryShownTextNamesParlaroAndKeepsSentencesApart)
{
    const auto keys = keysUsedByCode();
    static const std::regex runTogether(R"((?:[a-z]|”|’|»|\))[.!?](?:[A-Za-z]|Ä|Ö|Ü|É|À|Á|Ó|Ú|Ş|İ|Ł|Ś|Ż))");
    for (const auto& language : parlaro::InterfaceLanguage::supported()) {
        const auto table = tableOf(language.code);
        for (const auto& [key, value] : table)
            EXPECT_FALSE(std::regex_search(value, runTogether)) << language.code << ": " << value;
        for (const auto& key : keys) {
            const auto found = table.find(key);
            std::string shown = found == table.end() ? key : found->second;
            std::transform(shown.begin(), shown.end(), shown.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            EXPECT_EQ(shown.find("wenmora"), std::string::npos) << language.code << ": \"" << key << "\"";
        }
    }
}

// A language name is inserted as the interface language names it: in German
// the noun ("Spanisch"), which cannot stand before another noun as an
// adjective would ("die Spanisch Übersetzung"); in Vietnamese a name that
// already begins with "Tiếng", which must not be said twice.
TEST(StringTables, InsertedLanguageNamesStandWhereTheirFormReadsCorrectly)
{
    static const std::regex beforeANoun(R"(%(\d\$)?@ (?:[A-Z]|Ä|Ö|Ü))");
    for (const auto& [key, value] : tableOf("de"))
        EXPECT_FALSE(std::regex_search(value, beforeANoun)) << key << " -> " << value;
    static const std::regex twice(R"((?:tiếng|Tiếng) %(\d\$)?@)");
    for (const auto& [key, value] : tableOf("vi"))
        EXPECT_FALSE(std::regex_search(value, twice)) << key << " -> " << value;
}

// Asides go in the brackets of the interface language: full-width only in
// Chinese and Japanese, elsewhere ASCII after a space ("Ich (Spanisch)",
// "… (TR-2)"), in the composed texts and in every table's own texts.
TEST(StringTables, BracketsAreTheInterfaceLanguagesOwn)
{
    for (const auto& language : parlaro::InterfaceLanguage::supported()) {
        const auto table = tableOf(language.code);
        const bool fullWidth = language.code == "zh-Hans" || language.code == "zh-Hant" || language.code == "ja";
        const auto found = table.find("%@（%@）");
        ASSERT_NE(found, table.end()) << language.code;
        EXPECT_EQ(found->second, fullWidth ? "%@（%@）" : "%@ (%@)") << language.code;
        if (fullWidth)
            continue;
        for (const auto& [key, value] : table) {
            EXPECT_EQ(value.find("（"), std::string::npos) << language.code << ": " << value;
            EXPECT_EQ(value.find("）"), std::string::npos) << language.code << ": " << value;
        }
    }
}

// What the user reads before typing in a pair this computer cannot
// translate is the setup steps' note in the same words: the note opens
// with it.
TEST(StringTables, TheUntranslatablePairLineOpensTheSetupStepsNote)
{
    for (const auto& language : parlaro::InterfaceLanguage::supported()) {
        const auto table = tableOf(language.code);
        const auto line = table.find("这台电脑不能翻译%@ ⇄ %@。");
        ASSERT_NE(line, table.end()) << language.code;
        const auto note =
            table.find("这台电脑不能翻译%@ ⇄ %@。能翻译的有：%@。更多语言对来自发行版的 apertium 软件包。");
        ASSERT_NE(note, table.end()) << language.code;
        EXPECT_TRUE(note->second.starts_with(line->second)) << language.code << ": " << line->second;
    }
}

// Texts that say whether the other party's speech is captioned must not make
// the other party the one who gets (or does not get) the captions: they are
// the user's. The forms below are those a translation slips into.
TEST(StringTables, CaptionsOfTheOtherPartysSpeechAreTheUsers)
{
    const std::map<std::string, std::regex> receiverForms{
        {"de", std::regex("Gegenüber (bekommt|erhält)|für die andere Seite")},
        {"it", std::regex("interlocutore (non )?avrà")},
        {"nl", std::regex("de ander krijgt")},
        {"fr", std::regex("interlocuteur (n’)?aura")},
        {"en", std::regex("other party (gets|will get|won't get|does not get)")},
    };
    for (const auto& [code, form] : receiverForms) {
        for (const auto& [key, value] : tableOf(code)) {
            if (key.find("对方说话") != std::string::npos && key.find("字幕") != std::string::npos)
                EXPECT_FALSE(std::regex_search(value, form)) << code << ": " << value;
        }
    }
}

// Where language names are written in lower case ("español", "français"),
// a title or sentence does not open with one: "No se reconoce el español",
// not "español no se reconoce". Labels open with a capital.
TEST(StringTables, TitlesOpenWithACapitalWhereNamesAreLowerCase)
{
    static const std::regex opensWithName(R"(^%(\d\$)?@)");
    for (const char* code : {"es", "fr", "it", "pt-BR", "pl", "vi"}) {
        for (const auto& [key, value] : tableOf(code)) {
            if (key.starts_with("无法识别") || key.starts_with("本机无法识别"))
                EXPECT_FALSE(std::regex_search(value, opensWithName)) << code << ": " << value;
        }
    }
    for (const auto& language : parlaro::InterfaceLanguage::supported()) {
        const auto table = tableOf(language.code);
        const auto label = table.find("麦克风⟨标题⟩");
        ASSERT_NE(label, table.end()) << language.code;
        EXPECT_FALSE(std::islower(static_cast<unsigned char>(label->second.front()))) << language.code;
    }
}

// The wizard's installation step installs what the setup card calls the
// audio device, by the same name: the program itself is installed already.
TEST(StringTables, TheInstallationStepNamesTheAudioDevice)
{
    for (const auto& language : parlaro::InterfaceLanguage::supported()) {
        const auto table = tableOf(language.code);
        const auto step = table.find("安装「wenmora」");
        const auto device = table.find("wenmora 音频设备");
        ASSERT_NE(step, table.end()) << language.code;
        ASSERT_NE(device, table.end()) << language.code;
        // Within a sentence a name may lose its capital ("Instalar el dispositivo").
        std::string lower = device->second;
        lower[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(lower[0])));
        EXPECT_TRUE(step->second.find(device->second) != std::string::npos
                    || step->second.find(lower) != std::string::npos)
            << language.code << ": " << step->second;
    }
}

// One thing has one name within a language: the other party, the user's own
// voice, the computer, letting go of the talk button. The words below are
// the ones a table slipped into beside its chosen one.
TEST(StringTables, EachThingHasOneNameInALanguage)
{
    const std::map<std::string, std::vector<std::string>> others{
        {"de", {"Gegenseite", "andere Seite", "anderen Seite"}},
        {"en", {"other side", "Other side"}},
        {"es", {"Voz original", "ordenador", "interlocutor", "Interlocutor", "otra parte"}},
        {"fr", {"Voix propre", "autre personne", "L’autre", "l’autre"}},
        {"it", {"Voce propria", "altra persona", "L’altro", "l’altro"}},
        {"ja", {"原音", "肉声"}},
        {"ar", {"كمبيوتر", "هذا الجهاز", "عند الترك", "اترك", "تترك"}},
        {"ko", {"원음", "원래 목소리"}},
        {"th", {"เสียงต้นฉบับ"}},
        {"vi", {"Giọng gốc", "giọng gốc"}},
        {"pt-BR", {"Voz original"}},
    };
    for (const auto& [code, words] : others)
        for (const auto& [key, value] : tableOf(code))
            for (const auto& word : words)
                EXPECT_EQ(value.find(word), std::string::npos) << code << ": " << value;
    // The menu item opens what the button does; the progress says it runs.
    for (const auto& language : parlaro::InterfaceLanguage::supported()) {
        const auto table = tableOf(language.code);
        EXPECT_EQ(table.at("检查更新…"), table.at("检查更新") + "…") << language.code;
        EXPECT_NE(table.at("正在检查更新…"), table.at("检查更新…")) << language.code;
    }
}

// The key is named as the keyboard labels it, and a language quotes with one
// pair of marks throughout (’ is every table's apostrophe, so always allowed).
TEST(StringTables, KeysReadAsLabelledAndQuotesArePairedAlikeThroughALanguage)
{
    const std::map<std::string, std::vector<std::string>> marks{
        {"ar", {"«", "»"}},        {"de", {"„", "“"}}, {"en", {"“", "”"}}, {"es", {"«", "»"}},
        {"fr", {"«", "»"}},        {"id", {"“", "”"}}, {"it", {"«", "»"}}, {"ja", {"「", "」"}},
        {"ko", {"‘", "’"}},        {"nl", {"‘", "’"}}, {"pl", {"„", "”"}}, {"pt-BR", {"“", "”"}},
        {"th", {"“", "”"}},        {"tr", {"“", "”"}}, {"vi", {"“", "”"}}, {"zh-Hans", {"「", "」"}},
        {"zh-Hant", {"「", "」"}},
    };
    const std::vector<std::string> every{"「", "」", "『", "』", "“", "”", "‘", "«", "»", "„"};
    for (const auto& language : parlaro::InterfaceLanguage::supported()) {
        ASSERT_TRUE(marks.contains(language.code)) << language.code;
        const auto& own = marks.at(language.code);
        for (const auto& [key, value] : tableOf(language.code)) {
            EXPECT_EQ(value.find("Return"), std::string::npos) << language.code << ": " << value;
            for (const auto& mark : every)
                if (std::find(own.begin(), own.end(), mark) == own.end())
                    EXPECT_EQ(value.find(mark), std::string::npos) << language.code << " " << mark << ": " << value;
        }
    }
}

// What an inserted name cannot carry: Polish "po" wants an adverb
// ("po hiszpańsku"), not the name ("po hiszpański"); an Arabic name comes
// with its article, which "ب" joins without a tatweel; a French name may
// open with a vowel, which "le" does not elide. French speaks to the user
// as "vous", and every table writes the typographic apostrophe.
TEST(StringTables, InsertedNamesAndRegisterReadAsTheLanguageWrites)
{
    const std::map<std::string, std::regex> wrong{
        {"pl", std::regex(R"(\bpo %(\d\$)?@)")},
        {"ar", std::regex("ـ%")},
        {"fr", std::regex(R"((^| )(le|du) %(\d\$)?@|(^| )(tu|te|ton|ta|tes|toi)( |$))")},
    };
    for (const auto& [code, form] : wrong)
        for (const auto& [key, value] : tableOf(code))
            EXPECT_FALSE(std::regex_search(value, form)) << code << ": " << value;
    for (const auto& language : parlaro::InterfaceLanguage::supported())
        for (const auto& [key, value] : tableOf(language.code))
            EXPECT_EQ(value.find('\''), std::string::npos) << language.code << ": " << value;
}

// A key in two files of one language reads the same in both: the program
// shows one of them, and a translator mending the other mends nothing.
TEST(StringTables, AKeyReadsTheSameInEveryFileOfALanguage)
{
    for (const auto& language : parlaro::InterfaceLanguage::supported()) {
        std::map<std::string, std::string> seen;
        const fs::path folder = fs::path(PARLARO_SOURCE_DIR) / "resources" / "i18n" / language.code;
        for (const auto& entry : fs::directory_iterator(folder)) {
            const auto json = nlohmann::json::parse(readFile(entry.path()));
            for (const auto& [key, value] : json.items()) {
                const auto found = seen.emplace(key, value.get<std::string>()).first;
                EXPECT_EQ(found->second, value.get<std::string>()) << language.code << ": \"" << key << "\"";
            }
        }
    }
}
