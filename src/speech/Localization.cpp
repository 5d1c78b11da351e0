#include "speech/Localization.h"

#include "speech/InterfaceLanguage.h"
#include "speech/KoreanParticles.h"
#include "speech/PluralForms.h"

namespace parlaro {

namespace {

// Each argument replaces every "%N$@" of its number in the format. One pass
// over the format: a copy of the format is never rescanned, so an argument
// that itself contains "%2$@" stays as written.
std::string fillPositionally(const std::string& format, const std::vector<std::string>& arguments)
{
    std::string out;
    out.reserve(format.size());
    std::size_t i = 0;
    while (i < format.size()) {
        if (format[i] == '%') {
            std::size_t j = i + 1;
            std::size_t number = 0;
            bool digits = false;
            while (j < format.size() && format[j] >= '0' && format[j] <= '9' && number < 1000000) {
                number = number * 10 + static_cast<std::size_t>(format[j] - '0');
                digits = true;
                ++j;
            }
            bool placeholder =
                digits && format[i + 1] != '0' && j + 1 < format.size() && format[j] == '$' && format[j + 1] == '@';
            if (placeholder && number >= 1 && number <= arguments.size()) {
                out += arguments[number - 1];
                i = j + 2;
                continue;
            }
        }
        out.push_back(format[i]);
        ++i;
    }
    return out;
}

// Each argument replaces the first "%@" still left in the format; the search
// resumes after the inserted text, never inside it.
std::string fillSequentially(const std::string& format, const std::vector<std::string>& arguments)
{
    std::string out;
    out.reserve(format.size());
    std::size_t from = 0;
    for (const auto& argument : arguments) {
        auto at = format.find("%@", from);
        if (at == std::string::npos)
            break;
        out.append(format, from, at - from);
        out += argument;
        from = at + 2;
    }
    out.append(format, from, std::string::npos);
    return out;
}

// Whether the text ends in a character of the CJK punctuation or full-width
// forms blocks (U+3000-U+303F, U+FF00-U+FFEF), after which CJK writing puts
// no space. Their UTF-8 forms start with E3 80 or EF BC-EF BF.
bool endsFullWidth(const std::string& text)
{
    if (text.size() < 3)
        return false;
    const auto byte = [&](std::size_t fromEnd) { return static_cast<unsigned char>(text[text.size() - fromEnd]); };
    if (byte(3) == 0xE3 && byte(2) == 0x80)
        return true;
    return byte(3) == 0xEF && byte(2) >= 0xBC && byte(2) <= 0xBF;
}

}  // namespace

std::string joinSentences(const std::vector<std::string>& sentences)
{
    std::string joined;
    for (const std::string& sentence : sentences) {
        if (sentence.empty())
            continue;
        if (!joined.empty() && !endsFullWidth(joined))
            joined += ' ';
        joined += sentence;
    }
    return joined;
}

std::string bracketed(const std::string& text, const std::string& aside)
{
    std::string shown = localized("%@（%@）", text, aside);
    if (text.empty())
        shown.erase(0, shown.find_first_not_of(' '));
    return shown;
}

namespace {

// The text between `opener` and the pop of a directional isolate, in a
// right-to-left interface only.
std::string isolated(const std::string& text, const char* opener)
{
    if (text.empty() || InterfaceLanguage::layoutDirection() != LayoutDirection::rightToLeft)
        return text;
    return opener + text + "\u2069";
}

}  // namespace

std::string pathText(const std::string& path)
{
    return isolated(path, "\u2066");
}

std::string foreignText(const std::string& text)
{
    return isolated(text, "\u2068");
}

std::string fillPlaceholders(const std::string& format, const std::vector<std::string>& arguments)
{
    if (format.find("%1$@") != std::string::npos)
        return fillPositionally(format, arguments);
    return fillSequentially(format, arguments);
}

std::string localizedText(const std::string& key, const std::vector<std::string>& arguments)
{
    const auto bundle = InterfaceLanguage::bundle();
    // Counts take their language's plural forms; the main table is Chinese.
    std::string format = choosePluralForms(bundle.lookup(key), arguments, bundle.code.empty() ? "zh" : bundle.code);
    if (bundle.code == "ko")
        format = chooseKoreanParticles(format, arguments);
    return fillPlaceholders(format, arguments);
}

}  // namespace parlaro
