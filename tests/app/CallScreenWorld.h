#pragma once

#include "ModelWorld.h"

#include "platform/sim/SimGlobalKeys.h"
#include "speech/InterfaceLanguage.h"
#include "ui/AppActivity.h"
#include "ui/HoldShortcutCenter.h"
#include "ui/SystemSettings.h"

#include <QWidget>

#include <memory>

namespace parlaro::test {

// The call screen's views over a real model on the sim platform: the
// model tests' world, a fresh interface-language revision, a hold shortcut
// center on sim keys and recorded settings panes. Tests put the model in a
// state through its observable fields and settle.
class CallScreenWorld {
public:
    CallScreenWorld();
    ~CallScreenWorld();

    ModelWorld world;
    InterfaceLanguage::Revision revision;
    ui::ManualAppActivity activity;
    sim::SimGlobalKeys keys;
    ui::HoldShortcutCenter shortcuts{keys};
    ui::RecordingSystemSettings settings;
    std::shared_ptr<AppModel> model;

    // Alternates the executor and the Qt event loop until neither has work.
    void settle();
    // What the model's fakes did since the last take.
    std::vector<std::string> takeLog() { return world.takeLog(); }

    // A widget shown in a top-level window of that size, laid out.
    void show(QWidget& widget, QSize size);

private:
    InterfaceLanguage::Revision::Scope revisionScope_{revision};
    ui::SystemSettings::Scope settingsScope_{settings};
};

// The child of `parent` with that object name; null when absent.
template <class T>
T* child(QWidget& parent, const char* name)
{
    return parent.findChild<T*>(QString::fromLatin1(name));
}

}  // namespace parlaro::test
