#pragma once

#include "ModelUiWorld.h"
#include "support/TempDirectory.h"

#include "app/AppDelegate.h"
#include "history/ConversationHistory.h"
#include "model/AppModel.h"
#include "platform/sim/SimGlobalKeys.h"
#include "ui/AppActivity.h"
#include "ui/HoldShortcutCenter.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace parlaro::test {

// Global keys that note, in the shell's record, each time the hold shortcut
// is put to work, and whether the center's three callbacks were wired then.
class RecordingKeys final : public sim::SimGlobalKeys {
public:
    std::vector<std::string>* record = nullptr;
    const ui::HoldShortcutCenter* center = nullptr;

    bool startModifierWatch() override
    {
        note();
        return SimGlobalKeys::startModifierWatch();
    }
    bool registerCombination(std::uint32_t keyCode, std::uint32_t modifiers) override
    {
        note();
        return SimGlobalKeys::registerCombination(keyCode, modifiers);
    }

private:
    void note()
    {
        if (!record || !center)
            return;
        const bool wired = center->onDown && center->onUp && center->onCancel;
        record->push_back(wired ? "shortcut (wired)" : "shortcut (unwired)");
    }
};

// The application shell over a real model on the sim platform: the history
// in a folder of its own, the hold shortcut on recording keys, activity on
// demand, and the event loop's end recorded instead of taken.
class ShellWorld {
public:
    ShellWorld()
    {
        keys.record = &record;
        keys.center = &shortcuts;
    }
    ~ShellWorld()
    {
        delegate.reset();
        settle();
    }

    ModelUiWorld world;
    TempDirectory folder;
    RecordingKeys keys;
    ui::HoldShortcutCenter shortcuts{keys};
    ui::ManualAppActivity activity;
    std::shared_ptr<AppModel> model = world.make();
    std::shared_ptr<ConversationHistory> history = ConversationHistory::make(folder.path(), world.platform.defaults);
    std::vector<std::string> record;
    std::vector<int> exits;
    std::unique_ptr<app::AppDelegate> delegate;

    app::AppDelegate::Parts parts()
    {
        app::AppDelegate::Parts parts;
        parts.model = model;
        parts.history = history;
        parts.shortcuts = &shortcuts;
        parts.defaults = &world.platform.defaults;
        parts.activity = &activity;
        parts.removeLegacyHelper = [this] { record.push_back("clean-up"); };
        parts.exit = [this](int code) { exits.push_back(code); };
        return parts;
    }
    app::AppDelegate& make() { return make(parts()); }
    app::AppDelegate& make(app::AppDelegate::Parts parts)
    {
        delegate = std::make_unique<app::AppDelegate>(std::move(parts));
        return *delegate;
    }

    // The model's settle, plus the turns the window system takes to tell
    // that a window was drawn (which the executor does not wait for).
    void settle()
    {
        for (int round = 0; round < 3; ++round) {
            world.settle();
            QApplication::processEvents();
            QApplication::sendPostedEvents();
        }
        world.settle();
    }
    void advance(double seconds)
    {
        world.runtime.advance(seconds);
        settle();
    }
};

}  // namespace parlaro::test
