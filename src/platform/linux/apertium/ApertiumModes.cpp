#include "platform/linux/apertium/ApertiumModes.h"

#include <cctype>
#include <fstream>
#include <map>
#include <sstream>

namespace parlaro::sys {

namespace {

// Mode names spell languages in two or three letters, depending on the pair.
const std::map<std::string, std::string, std::less<>>& threeLetterCodes()
{
    static const std::map<std::string, std::string, std::less<>> codes{
        {"ar", "ara"}, {"de", "deu"}, {"en", "eng"}, {"es", "spa"}, {"fr", "fra"}, {"hi", "hin"}, {"id", "ind"},
        {"it", "ita"}, {"ja", "jpn"}, {"ko", "kor"}, {"nl", "nld"}, {"pl", "pol"}, {"pt", "por"}, {"ru", "rus"},
        {"th", "tha"}, {"tr", "tur"}, {"uk", "ukr"}, {"vi", "vie"}, {"zh", "zho"},
    };
    return codes;
}

// The Debian packages that provide pairs among the call languages.
const std::map<std::string, std::string, std::less<>>& knownPackages()
{
    static const std::map<std::string, std::string, std::less<>> packages{
        {"eng-spa", "apertium-eng-spa"}, {"spa-eng", "apertium-eng-spa"}, {"spa-eng_US", "apertium-eng-spa"},
        {"fr-es", "apertium-fr-es"},     {"es-fr", "apertium-fr-es"},     {"es-pt", "apertium-es-pt"},
        {"es-pt_BR", "apertium-es-pt"},  {"pt-es", "apertium-es-pt"},     {"spa-ita", "apertium-spa-ita"},
        {"ita-spa", "apertium-spa-ita"}, {"rus-ukr", "apertium-rus-ukr"}, {"ukr-rus", "apertium-rus-ukr"},
    };
    return packages;
}

struct Subtags {
    std::string language;
    std::string region;
};

Subtags split(const std::string& identifier)
{
    Subtags result;
    std::size_t start = 0;
    bool first = true;
    while (start <= identifier.size()) {
        auto end = identifier.find_first_of("-_", start);
        if (end == std::string::npos)
            end = identifier.size();
        std::string part = identifier.substr(start, end - start);
        if (first) {
            for (auto& c : part)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            result.language = part;
            first = false;
        } else if (part.size() == 2 && std::isalpha(static_cast<unsigned char>(part[0]))) {
            for (auto& c : part)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            result.region = part;
        }
        start = end + 1;
    }
    return result;
}

std::vector<std::string> codesOf(const std::string& language)
{
    std::vector<std::string> codes{language};
    if (auto it = threeLetterCodes().find(language); it != threeLetterCodes().end())
        codes.push_back(it->second);
    return codes;
}

}  // namespace

ApertiumModes::ApertiumModes(const TextServices& text, std::filesystem::path folder)
    : text_(text), folder_(std::move(folder))
{
}

std::vector<std::string> ApertiumModes::candidates(const std::string& source, const std::string& target) const
{
    const auto from = split(text_.maximalIdentifier(source));
    const auto to = split(text_.maximalIdentifier(target));
    std::vector<std::string> names;
    for (const auto& s : codesOf(from.language)) {
        for (const auto& t : codesOf(to.language)) {
            if (!to.region.empty())
                names.push_back(s + "-" + t + "_" + to.region);
            names.push_back(s + "-" + t);
        }
    }
    return names;
}

ApertiumPair ApertiumModes::resolve(const std::string& source, const std::string& target) const
{
    ApertiumPair pair;
    const auto names = candidates(source, target);
    for (const auto& name : names) {
        if (auto it = knownPackages().find(name); it != knownPackages().end()) {
            pair.package = it->second;
            pair.status = LanguageAvailability::Status::supported;
            break;
        }
    }
    std::error_code error;
    for (const auto& name : names) {
        if (std::filesystem::is_regular_file(folder_ / (name + ".mode"), error)) {
            pair.status = LanguageAvailability::Status::installed;
            pair.mode = name;
            break;
        }
    }
    return pair;
}

std::optional<std::vector<ApertiumStage>> ApertiumModes::stages(const std::string& mode) const
{
    std::ifstream in(folder_ / (mode + ".mode"), std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    auto parsed = parseMode(text.str());
    if (parsed.empty())
        return std::nullopt;
    return parsed;
}

std::vector<ApertiumStage> ApertiumModes::parseMode(std::string_view text)
{
    std::vector<ApertiumStage> stages;
    ApertiumStage stage;
    std::string word;
    bool inWord = false;
    bool quoted = false;  // the word had quotes, so "$1" inside it is literal

    auto endWord = [&] {
        if (!inWord)
            return;
        if (!quoted && word == "$1")
            stage.push_back("-n");
        else if (!(!quoted && word == "$2"))
            stage.push_back(word);
        word.clear();
        inWord = false;
        quoted = false;
    };
    auto endStage = [&] {
        endWord();
        if (!stage.empty()) {
            stage.insert(stage.begin() + 1, "-z");
            stages.push_back(std::move(stage));
        }
        stage.clear();
    };

    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\'') {
            inWord = quoted = true;
            auto end = text.find('\'', i + 1);
            if (end == std::string_view::npos)
                end = text.size();
            word.append(text.substr(i + 1, end - i - 1));
            i = end;
        } else if (c == '"') {
            inWord = quoted = true;
            for (++i; i < text.size() && text[i] != '"'; ++i) {
                if (text[i] == '\\' && i + 1 < text.size())
                    ++i;
                word.push_back(text[i]);
            }
        } else if (c == '\\' && i + 1 < text.size()) {
            inWord = true;
            word.push_back(text[++i]);
        } else if (c == '|') {
            endStage();
        } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            endWord();
        } else {
            inWord = true;
            word.push_back(c);
        }
    }
    endStage();
    return stages;
}

}  // namespace parlaro::sys
