#include "history/ConversationExport.h"

#include "speech/Localization.h"

namespace parlaro::ConversationExport {

namespace {

std::string speakerLabel(ConversationEntry::Side side)
{
    return side == ConversationEntry::Side::me ? localized("我") : localized("对方");
}

std::string languageNameOf(const std::optional<std::string>& id, const LanguageNamer& languageName)
{
    if (!id)
        return {};
    return languageName(*id).value_or(std::string());
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

std::string text(const std::vector<ConversationEntry>& entries, const std::string& header, const LocaleContext& context,
                 const LanguageNamer& languageName)
{
    std::vector<std::string> lines{header, ""};
    for (const auto& entry : entries) {
        std::string heading =
            DateFormats::styled(entry.time, DateFormats::Style::none, DateFormats::Style::mediumStyle, context) + "  "
            + speakerLabel(entry.side);
        if (entry.originalLanguage) {
            if (auto name = languageName(*entry.originalLanguage))
                heading = bracketed(heading, *name);
        }
        lines.push_back(std::move(heading));
        lines.push_back(entry.original);
        if (!entry.translated.empty() && entry.translated != entry.original)
            lines.push_back(entry.translated);
        lines.emplace_back();
    }
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i)
            joined.push_back('\n');
        joined += lines[i];
    }
    return joined;
}

std::string csv(const std::vector<ConversationEntry>& entries, const LocaleContext& context,
                const LanguageNamer& languageName)
{
    std::string out = "\xEF\xBB\xBF";
    out += record({localized("时间"), localized("说话方"), localized("原文语言"), localized("原文"),
                   localized("译文语言"), localized("译文")});
    out += "\r\n";
    for (const auto& entry : entries) {
        out += record({DateFormats::internetDateTime(entry.time, context), speakerLabel(entry.side),
                       languageNameOf(entry.originalLanguage, languageName), entry.original,
                       languageNameOf(entry.translatedLanguage, languageName), entry.translated});
        out += "\r\n";
    }
    return out;
}

}  // namespace parlaro::ConversationExport
