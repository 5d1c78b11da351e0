#pragma once

#include "platform/DefaultsValue.h"

#include <optional>
#include <string>
#include <string_view>

namespace parlaro {

// A persistent key-value store for settings.
//
// Writes that cannot be stored throw a parlaro::Error and leave the store as
// it was, so a caller never believes a setting was saved when it was not.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // The stored value, whatever its type; nullopt when absent or not readable.
    virtual std::optional<DefaultsValue> value(std::string_view key) const = 0;
    virtual void set(std::string_view key, DefaultsValue value) = 0;
    // Removing an absent key does nothing.
    virtual void remove(std::string_view key) = 0;
    virtual bool has(std::string_view key) const = 0;

    // The value as T; nullopt when absent or stored with another type.
    template <DefaultsType T>
    std::optional<T> get(std::string_view key) const
    {
        std::optional<DefaultsValue> stored = value(key);
        if (!stored) {
            return std::nullopt;
        }
        if (const T* typed = stored->getIf<T>()) {
            return *typed;
        }
        return std::nullopt;
    }
};

}  // namespace parlaro
