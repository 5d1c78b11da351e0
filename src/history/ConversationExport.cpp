#include "history/ConversationExport.h"

#include "speech/Localization.h"

namespace parlaro::ConversationExport {

namespace {

// Entries made between two reports of progress: a check costs nothing
// beside them, and a stop is heard within milliseconds.
constexpr std::size_t progressStep = 500;

const std::string& speakerLabel(ConversationEntry::Side side, const Labels& labels)
{
    return side == ConversationEntry::Side::me ? labels.me : labels.them;
}

std::optional<std::string> languageNameOf(const std::optional<std::string>& id, const Labels& labels)
{
    if (!id)
        return std::nullopt;
    auto found = labels.languages.find(*id);
    return found == labels.languages.end() ? std::nullopt : found->second;
}

// Where the text and the aside go in Labels::bracketed: characters no
// heading or language name holds.
constexpr std::string_view textMark = "\x1E";
constexpr std::string_view asideMark = "\x1F";

std::string bracketedWith(const Labels& labels, const std::string& text, const std::string& aside)
{
    std::string shown = labels.bracketed;
    if (auto at = shown.find(textMark); at != std::string::npos)
        shown.replace(at, textMark.size(), text);
    if (auto at = shown.find(asideMark); at != std::string::npos)
        shown.replace(at, asideMark.size(), aside);
    return shown;
}

bool goesOn(const Progress& progress, std::size_t done)
{
    return !progress || done % progressStep != 0 || progress(done);
}

std::string quoted(const std::string& field)
{
    std::string out;
    out.reserve(field.size() + 2);
    out.push_back('"');
    for (char c : field) {
        if (c == '"')
            out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

std::string record(const std::vector<std::string>& fields)
{
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i)
            line.push_back(',');
        line += quoted(fields[i]);
    }
    return line;
}

}  // namespace

std::string rawValue(Format format)
{
    return format == Format::csv ? "csv" : "txt";
}

std::optional<Format> fromRawValue(std::string_view raw)
{
    if (raw == "txt")
        return Format::text;
    if (raw == "csv")
        return Format::csv;
    return std::nullopt;
}

std::string defaultFileName(rt::Date date, const LocaleContext& context)
{
    return "Parlaro " + DateFormats::pattern(date, "yyyy-MM-dd HH.mm", context);
}

Labels labels(const std::vector<ConversationEntry>& entries, const LanguageNamer& languageName)
{
    Labels made{.me = localized("我"),
                .them = localized("对方"),
                .columns = {localized("时间"), localized("说话方"), localized("原文语言"), localized("原文"),
                            localized("译文语言"), localized("译文")},
                .languages = {},
                .bracketed = bracketed(std::string(textMark), std::string(asideMark))};
    for (const auto& entry : entries) {
        for (const auto& id : {entry.originalLanguage, entry.translatedLanguage}) {
            if (id && !made.languages.contains(*id))
                made.languages.emplace(*id, languageName(*id));
        }
    }
    return made;
}

std::string text(const std::vector<ConversationEntry>& entries, const std::string& header, const LocaleContext& context,
                 const LanguageNamer& languageName)
{
    return text(entries, header, context, labels(entries, languageName), {});
}

std::string text(const std::vector<ConversationEntry>& entries, const std::string& header, const LocaleContext& context,
                 const Labels& labels, const Progress& progress)
{
    const auto timeOfDay =
        DateFormats::Formatter::styled(DateFormats::Style::none, DateFormats::Style::mediumStyle, context);
    std::string joined = header + "\n";
    for (std::size_t done = 0; done < entries.size(); ++done) {
        if (!goesOn(progress, done))
            return joined;
        const ConversationEntry& entry = entries[done];
        std::string heading = timeOfDay(entry.time) + "  " + speakerLabel(entry.side, labels);
        if (auto name = languageNameOf(entry.originalLanguage, labels))
            heading = bracketedWith(labels, heading, *name);
        joined += "\n" + heading + "\n" + entry.original;
        if (!entry.translated.empty() && entry.translated != entry.original)
            joined += "\n" + entry.translated;
        joined += "\n";
    }
    return joined;
}

std::string csv(const std::vector<ConversationEntry>& entries, const LocaleContext& context,
                const LanguageNamer& languageName)
{
    return csv(entries, context, labels(entries, languageName), {});
}

std::string csv(const std::vector<ConversationEntry>& entries, const LocaleContext& context, const Labels& labels,
                const Progress& progress)
{
    const auto when = DateFormats::Formatter::internetDateTime(context);
    std::string out = "\xEF\xBB\xBF";
    out += record(labels.columns);
    out += "\r\n";
    for (std::size_t done = 0; done < entries.size(); ++done) {
        if (!goesOn(progress, done))
            return out;
        const ConversationEntry& entry = entries[done];
        out += record({when(entry.time), speakerLabel(entry.side, labels),
                       languageNameOf(entry.originalLanguage, labels).value_or(std::string()), entry.original,
                       languageNameOf(entry.translatedLanguage, labels).value_or(std::string()), entry.translated});
        out += "\r\n";
    }
    return out;
}

}  // namespace parlaro::ConversationExport
