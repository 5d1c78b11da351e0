#include "history/HistoryJson.h"

#include "platform/JsonInput.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace parlaro::HistoryJson {

namespace {

using nlohmann::json;

const json& member(const json& object, const char* key)
{
    auto found = object.find(key);
    if (found == object.end())
        throw DecodingError(std::string("missing key \"") + key + "\"");
    return *found;
}

// A missing key and null both mean the field is absent.
const json* optionalMember(const json& object, const char* key)
{
    auto found = object.find(key);
    if (found == object.end() || found->is_null())
        return nullptr;
    return &*found;
}

void requireObject(const json& value, const char* what)
{
    if (!value.is_object())
        throw DecodingError(std::string(what) + " is not a JSON object");
}

std::string stringValue(const json& value, const char* key)
{
    if (!value.is_string())
        throw DecodingError(std::string("\"") + key + "\" is not a string");
    return value.get<std::string>();
}

rt::Uuid uuidValue(const json& value, const char* key)
{
    auto parsed = rt::Uuid::parse(stringValue(value, key));
    if (!parsed)
        throw DecodingError(std::string("\"") + key + "\" is not a UUID");
    return *parsed;
}

rt::Date dateValue(const json& value, const char* key)
{
    if (!value.is_number())
        throw DecodingError(std::string("\"") + key + "\" is not a number");
    return rt::Date{value.get<double>()};
}

std::int64_t integerValue(const json& value, const char* key)
{
    if (value.is_number_unsigned()) {
        auto number = value.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            throw DecodingError(std::string("\"") + key + "\" is out of range");
        return static_cast<std::int64_t>(number);
    }
    if (value.is_number_integer())
        return value.get<std::int64_t>();
    if (value.is_number_float()) {
        // An integral value written with a fraction part ("3.0") still counts.
        double number = value.get<double>();
        if (std::trunc(number) == number && number >= -9.2e18 && number <= 9.2e18)
            return static_cast<std::int64_t>(number);
    }
    throw DecodingError(std::string("\"") + key + "\" is not an integer");
}

std::optional<std::string> optionalString(const json& object, const char* key)
{
    if (const json* value = optionalMember(object, key))
        return stringValue(*value, key);
    return std::nullopt;
}

std::optional<rt::Date> optionalDate(const json& object, const char* key)
{
    if (const json* value = optionalMember(object, key))
        return dateValue(*value, key);
    return std::nullopt;
}

template <class F>
auto decodeText(std::string_view text, F read) -> std::optional<decltype(read(std::declval<const json&>()))>
{
    const std::optional<json> parsed = parseJsonInput(text);
    if (!parsed)
        return std::nullopt;
    try {
        return read(*parsed);
    } catch (const DecodingError&) {
        return std::nullopt;
    } catch (const json::exception&) {
        return std::nullopt;
    }
}

}  // namespace

json toJson(ConversationEntry::Side side)
{
    return ConversationEntry::rawValue(side);
}

json toJson(const ConversationEntry& entry)
{
    json object = json::object();
    object["id"] = entry.id.toString();
    object["side"] = toJson(entry.side);
    object["original"] = entry.original;
    object["translated"] = entry.translated;
    object["time"] = entry.time.sinceReferenceDate;
    if (entry.originalLanguage)
        object["originalLanguage"] = *entry.originalLanguage;
    if (entry.translatedLanguage)
        object["translatedLanguage"] = *entry.translatedLanguage;
    return object;
}

json toJson(const ConversationSession& session)
{
    json entries = json::array();
    for (const auto& entry : session.entries)
        entries.push_back(toJson(entry));
    json object = json::object();
    object["id"] = session.id.toString();
    object["entries"] = std::move(entries);
    return object;
}

json toJson(const ConversationSummary& summary)
{
    json object = json::object();
    object["id"] = summary.id.toString();
    object["started"] = summary.started.sinceReferenceDate;
    object["updated"] = summary.updated.sinceReferenceDate;
    object["count"] = summary.count;
    if (summary.theirLanguage)
        object["theirLanguage"] = *summary.theirLanguage;
    if (summary.myLanguage)
        object["myLanguage"] = *summary.myLanguage;
    object["preview"] = summary.preview;
    if (summary.fileDate)
        object["fileDate"] = summary.fileDate->sinceReferenceDate;
    return object;
}

ConversationEntry::Side sideFromJson(const json& value)
{
    auto side = ConversationEntry::sideFromRawValue(stringValue(value, "side"));
    if (!side)
        throw DecodingError("unknown side");
    return *side;
}

ConversationEntry entryFromJson(const json& object)
{
    requireObject(object, "entry");
    return ConversationEntry{
        .id = uuidValue(member(object, "id"), "id"),
        .side = sideFromJson(member(object, "side")),
        .original = stringValue(member(object, "original"), "original"),
        .translated = stringValue(member(object, "translated"), "translated"),
        .time = dateValue(member(object, "time"), "time"),
        .originalLanguage = optionalString(object, "originalLanguage"),
        .translatedLanguage = optionalString(object, "translatedLanguage"),
    };
}

ConversationSession sessionFromJson(const json& object)
{
    requireObject(object, "session");
    ConversationSession session{.id = uuidValue(member(object, "id"), "id"), .entries = {}};
    const json& entries = member(object, "entries");
    if (!entries.is_array())
        throw DecodingError("\"entries\" is not an array");
    session.entries.reserve(entries.size());
    for (const json& entry : entries)
        session.entries.push_back(entryFromJson(entry));
    return session;
}

ConversationSummary summaryFromJson(const json& object)
{
    requireObject(object, "summary");
    return ConversationSummary{
        .id = uuidValue(member(object, "id"), "id"),
        .started = dateValue(member(object, "started"), "started"),
        .updated = dateValue(member(object, "updated"), "updated"),
        .count = integerValue(member(object, "count"), "count"),
        .theirLanguage = optionalString(object, "theirLanguage"),
        .myLanguage = optionalString(object, "myLanguage"),
        .preview = stringValue(member(object, "preview"), "preview"),
        .fileDate = optionalDate(object, "fileDate"),
    };
}

std::string encode(const json& value)
{
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string encode(const ConversationSession& session)
{
    return encode(toJson(session));
}

std::string encode(const std::vector<ConversationSummary>& summaries)
{
    json array = json::array();
    for (const auto& summary : summaries)
        array.push_back(toJson(summary));
    return encode(array);
}

std::optional<ConversationSession> decodeSession(std::string_view text)
{
    return decodeText(text, [](const json& value) { return sessionFromJson(value); });
}

std::optional<std::vector<ConversationSummary>> decodeSummaries(std::string_view text)
{
    return decodeText(text, [](const json& value) {
        if (!value.is_array())
            throw DecodingError("the index is not an array");
        std::vector<ConversationSummary> summaries;
        summaries.reserve(value.size());
        for (const json& summary : value)
            summaries.push_back(summaryFromJson(summary));
        return summaries;
    });
}

}  // namespace parlaro::HistoryJson
