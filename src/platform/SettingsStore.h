#pragma once

#include "platform/DefaultsValue.h"
#include "runtime/Error.h"

#include <filesystem>

#include <optional>
#include <string>
#include <string_view>

namespace parlaro {

// A write that a store kept in a file could not make: which file (the one
// the user knows, never a temporary beside it), what kept it, and the
// system's words for why. The text is for logs; the window says it in the
// interface language (SettingsWriter).
class SettingsWriteError : public DomainError {
public:
    enum class Kind : std::int64_t { writeFailed = 1, damagedFileKept = 2, unreadableFileKept = 3 };
    SettingsWriteError(std::string domain, Kind kind, std::filesystem::path file, std::string reason, std::string text)
        : DomainError(std::move(domain), static_cast<std::int64_t>(kind), std::move(text)), kind(kind),
          file(std::move(file)), reason(std::move(reason))
    {
    }

    Kind kind;
    std::filesystem::path file;
    std::string reason;
};

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
