#pragma once

#include "platform/DefaultsValue.h"
#include "platform/SettingsStore.h"

#include <functional>
#include <string>
#include <string_view>

namespace parlaro {

// The one way a setting is written, by the model and by every view, page,
// sheet and task: a write the store refuses (a full or read-only folder, a
// settings file it will not write over) is told to the user through `tell`
// (the error alert, in the program) and comes back false, so the caller can
// show what is actually in force instead of what was asked for. Nothing the
// store throws gets further, so no failure ends a Qt handler.
//
// Main actor only: `tell` updates what the window shows.
class SettingsWriter {
public:
    using Tell = std::function<void(std::string message)>;

    SettingsWriter(SettingsStore& store, Tell tell);

    // For reading; every write goes through the members below.
    const SettingsStore& store() const { return store_; }

    bool set(std::string_view key, DefaultsValue value);
    bool remove(std::string_view key);
    // A write made by an owner of its own (the history's switch, the hold
    // shortcut, the interface language) that stores through this store.
    bool write(const std::function<void(SettingsStore&)>& write);

private:
    SettingsStore& store_;
    Tell tell_;
};

}  // namespace parlaro
