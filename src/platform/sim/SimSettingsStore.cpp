#include "platform/sim/SimSettingsStore.h"

namespace parlaro::sim {

SimSettingsStore::SimSettingsStore(std::map<std::string, DefaultsValue, std::less<>> values)
    : values_(std::move(values))
{
}

std::optional<DefaultsValue> SimSettingsStore::value(std::string_view key) const
{
    std::lock_guard lock(mutex_);
    auto found = values_.find(key);
    if (found == values_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void SimSettingsStore::set(std::string_view key, DefaultsValue value)
{
    std::lock_guard lock(mutex_);
    if (writeFailure_) {
        throw *writeFailure_;
    }
    values_.insert_or_assign(std::string(key), std::move(value));
}

void SimSettingsStore::remove(std::string_view key)
{
    std::lock_guard lock(mutex_);
    if (writeFailure_) {
        throw *writeFailure_;
    }
    if (auto found = values_.find(key); found != values_.end()) {
        values_.erase(found);
    }
}

bool SimSettingsStore::has(std::string_view key) const
{
    std::lock_guard lock(mutex_);
    return values_.find(key) != values_.end();
}

void SimSettingsStore::failWrites(std::optional<DomainError> error)
{
    std::lock_guard lock(mutex_);
    writeFailure_ = std::move(error);
}

std::map<std::string, DefaultsValue, std::less<>> SimSettingsStore::snapshot() const
{
    std::lock_guard lock(mutex_);
    return values_;
}

}  // namespace parlaro::sim
