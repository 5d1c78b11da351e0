#include "model/SettingsWriter.h"

#include "runtime/Error.h"

#include <exception>
#include <utility>

namespace parlaro {

SettingsWriter::SettingsWriter(SettingsStore& store, Tell tell) : store_(store), tell_(std::move(tell))
{
}

bool SettingsWriter::set(std::string_view key, DefaultsValue value)
{
    return write([&](SettingsStore& store) { store.set(key, std::move(value)); });
}

bool SettingsWriter::remove(std::string_view key)
{
    return write([&](SettingsStore& store) { store.remove(key); });
}

bool SettingsWriter::write(const std::function<void(SettingsStore&)>& write)
{
    try {
        write(store_);
        return true;
    } catch (...) {
        if (tell_)
            tell_(describe(std::current_exception()));
        return false;
    }
}

}  // namespace parlaro
