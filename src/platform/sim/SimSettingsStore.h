#pragma once

#include "platform/SettingsStore.h"
#include "runtime/Error.h"

#include <map>
#include <mutex>
#include <optional>

namespace parlaro::sim {

// Settings in memory. A test can make writes fail to see how callers cope.
class SimSettingsStore : public SettingsStore {
public:
    SimSettingsStore() = default;
    explicit SimSettingsStore(std::map<std::string, DefaultsValue, std::less<>> values);

    std::optional<DefaultsValue> value(std::string_view key) const override;
    void set(std::string_view key, DefaultsValue value) override;
    void remove(std::string_view key) override;
    bool has(std::string_view key) const override;

    // While set, set() and remove() throw this error and change nothing.
    void failWrites(std::optional<DomainError> error);
    std::map<std::string, DefaultsValue, std::less<>> snapshot() const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, DefaultsValue, std::less<>> values_;
    std::optional<DomainError> writeFailure_;
};

}  // namespace parlaro::sim
