#pragma once

#include "platform/DefaultsValue.h"
#include "platform/SettingsStore.h"

#include <exception>
#include <functional>
#include <string>
#include <string_view>

namespace parlaro {

// The text of a caught failure for the user, with a settings write that
// failed said in the interface language and naming the settings file. For
// every operation that may write a setting on its way (the system route's
// recovery record).
std::string describeFailure(const std::exception_ptr& error);

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
