#include "platform/linux/DefaultsJson.h"

#include <cmath>
#include <limits>
#include <string_view>

namespace parlaro::sys {
namespace {

constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64Encode(const DefaultsData& data)
{
    std::string text;
    text.reserve((data.size() + 2) / 3 * 4);
    for (std::size_t at = 0; at < data.size(); at += 3) {
        const std::size_t left = data.size() - at;
        std::uint32_t block = std::uint32_t(data[at]) << 16;
        if (left > 1) {
            block |= std::uint32_t(data[at + 1]) << 8;
        }
        if (left > 2) {
            block |= data[at + 2];
        }
        text += alphabet[(block >> 18) & 63];
        text += alphabet[(block >> 12) & 63];
        text += left > 1 ? alphabet[(block >> 6) & 63] : '=';
        text += left > 2 ? alphabet[block & 63] : '=';
    }
    return text;
}

std::optional<DefaultsData> base64Decode(std::string_view text)
{
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    DefaultsData data;
    data.reserve(text.size() / 4 * 3);
    for (std::size_t at = 0; at < text.size(); at += 4) {
        std::uint32_t block = 0;
        int padding = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            const char c = text[at + i];
            const bool last = at + 4 == text.size();
            if (c == '=' && last && i >= 2) {
                ++padding;
                block <<= 6;
                continue;
            }
            const std::size_t digit = alphabet.find(c);
            if (digit == std::string_view::npos || padding > 0) {
                return std::nullopt;
            }
            block = (block << 6) | static_cast<std::uint32_t>(digit);
        }
        data.push_back(static_cast<std::uint8_t>(block >> 16));
        if (padding < 2) {
            data.push_back(static_cast<std::uint8_t>(block >> 8));
        }
        if (padding < 1) {
            data.push_back(static_cast<std::uint8_t>(block));
        }
    }
    return data;
}

nlohmann::json encodeDouble(double value)
{
    if (std::isfinite(value)) {
        return value;
    }
    if (std::isnan(value)) {
        return {{"$double", "nan"}};
    }
    return {{"$double", value > 0 ? "inf" : "-inf"}};
}

std::optional<DefaultsValue> decodeTagged(const nlohmann::json& object)
{
    if (object.size() != 1) {
        return std::nullopt;
    }
    const auto only = object.begin();
    const std::string& tag = only.key();
    const nlohmann::json& content = only.value();
    if (tag == "$data" && content.is_string()) {
        if (auto data = base64Decode(content.get_ref<const std::string&>())) {
            return DefaultsValue(std::move(*data));
        }
        return std::nullopt;
    }
    if (tag == "$dictionary" && content.is_object()) {
        DefaultsDictionary dictionary;
        for (const auto& [key, entry] : content.items()) {
            std::optional<DefaultsValue> decoded = decodeDefaultsValue(entry);
            if (!decoded) {
                return std::nullopt;
            }
            dictionary.emplace(key, std::move(*decoded));
        }
        return DefaultsValue(std::move(dictionary));
    }
    if (tag == "$double" && content.is_string()) {
        const auto& name = content.get_ref<const std::string&>();
        if (name == "nan") {
            return DefaultsValue(std::numeric_limits<double>::quiet_NaN());
        }
        if (name == "inf" || name == "-inf") {
            const double infinity = std::numeric_limits<double>::infinity();
            return DefaultsValue(name == "inf" ? infinity : -infinity);
        }
    }
    return std::nullopt;
}

}  // namespace

nlohmann::json encodeDefaultsValue(const DefaultsValue& value)
{
    return std::visit(
        [](const auto& content) -> nlohmann::json {
            using T = std::decay_t<decltype(content)>;
            if constexpr (std::is_same_v<T, double>) {
                return encodeDouble(content);
            } else if constexpr (std::is_same_v<T, DefaultsData>) {
                return {{"$data", base64Encode(content)}};
            } else if constexpr (std::is_same_v<T, DefaultsDictionary>) {
                nlohmann::json entries = nlohmann::json::object();
                for (const auto& [key, entry] : content) {
                    entries[key] = encodeDefaultsValue(entry);
                }
                return {{"$dictionary", std::move(entries)}};
            } else {
                return content;
            }
        },
        value.storage());
}

std::optional<DefaultsValue> decodeDefaultsValue(const nlohmann::json& json)
{
    switch (json.type()) {
    case nlohmann::json::value_t::string:
        return DefaultsValue(json.get<std::string>());
    case nlohmann::json::value_t::boolean:
        return DefaultsValue(json.get<bool>());
    case nlohmann::json::value_t::number_integer:
        return DefaultsValue(json.get<std::int64_t>());
    case nlohmann::json::value_t::number_unsigned: {
        const auto number = json.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return std::nullopt;
        }
        return DefaultsValue(static_cast<std::int64_t>(number));
    }
    case nlohmann::json::value_t::number_float:
        return DefaultsValue(json.get<double>());
    case nlohmann::json::value_t::array: {
        DefaultsStringList list;
        for (const auto& item : json) {
            if (!item.is_string()) {
                return std::nullopt;
            }
            list.push_back(item.get<std::string>());
        }
        return DefaultsValue(std::move(list));
    }
    case nlohmann::json::value_t::object:
        return decodeTagged(json);
    default:
        return std::nullopt;
    }
}

}  // namespace parlaro::sys
