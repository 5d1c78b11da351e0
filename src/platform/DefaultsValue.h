#pragma once

#include <concepts>
#include <cstdint>
#include <map>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

namespace parlaro {

class DefaultsValue;

using DefaultsData = std::vector<std::uint8_t>;
using DefaultsStringList = std::vector<std::string>;
using DefaultsDictionary = std::map<std::string, DefaultsValue>;

// One stored setting: string, bool, int64, double, bytes, string list or a
// dictionary of further values. Integers of any width become int64 and
// floating values double, so a value reads back with the type it was stored
// with; a C string is a string, never a bool.
class DefaultsValue {
public:
    using Storage =
        std::variant<std::string, bool, std::int64_t, double, DefaultsData, DefaultsStringList, DefaultsDictionary>;

    DefaultsValue() : storage_(std::string()) {}
    DefaultsValue(std::string value) : storage_(std::move(value)) {}
    DefaultsValue(const char* value) : storage_(std::string(value)) {}
    DefaultsValue(bool value) : storage_(value) {}
    // Would otherwise become bools.
    DefaultsValue(char) = delete;
    template <class T>
    DefaultsValue(T*) = delete;
    template <std::integral T>
    requires(!std::same_as<T, bool> && !std::same_as<T, char>) DefaultsValue(T value)
        : storage_(static_cast<std::int64_t>(value))
    {
    }
    template <std::floating_point T>
    DefaultsValue(T value) : storage_(static_cast<double>(value))
    {
    }
    DefaultsValue(DefaultsData value) : storage_(std::move(value)) {}
    DefaultsValue(DefaultsStringList value) : storage_(std::move(value)) {}
    DefaultsValue(DefaultsDictionary value) : storage_(std::move(value)) {}

    const Storage& storage() const { return storage_; }

    template <class T>
    bool holds() const
    {
        return std::holds_alternative<T>(storage_);
    }
    // Null when the value holds another type.
    template <class T>
    const T* getIf() const
    {
        return std::get_if<T>(&storage_);
    }

    bool operator==(const DefaultsValue& other) const { return storage_ == other.storage_; }

private:
    Storage storage_;
};

// The types a setting can be read as.
template <class T>
concept DefaultsType = std::same_as<T, std::string> || std::same_as<T, bool> || std::same_as<T, std::int64_t> || std::
    same_as<T, double> || std::same_as<T, DefaultsData> || std::same_as<T, DefaultsStringList> || std::same_as<
        T, DefaultsDictionary>;

}  // namespace parlaro
