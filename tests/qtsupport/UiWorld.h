#pragma once

#include "model/SettingsWriter.h"
#include "platform/sim/SimPlatform.h"
#include "runtime/ManualRuntime.h"
#include "speech/InterfaceLanguage.h"
#include "ui/AppActivity.h"
#include "ui/InterfaceFontFollower.h"

#include <QColor>
#include <QImage>
#include <QString>

#include <string>
#include <vector>

class QWidget;

namespace parlaro::test {

// What a widget test stands on: the manual runtime, the sim platform, a
// fresh interface-language revision, the fonts following it, and a
// deactivation on demand. The Qt
// application is made by the binary's main (QtTestMain.cpp): offscreen,
// Fusion, the fixed palette and font.
class UiWorld {
public:
    UiWorld();
    ~UiWorld();
    UiWorld(const UiWorld&) = delete;
    UiWorld& operator=(const UiWorld&) = delete;

    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    InterfaceLanguage::Revision revision;
    ui::ManualAppActivity activity;
    // The views' way to write the sim's settings; what it would put in the
    // error alert is kept in `settingsFailures`.
    std::vector<std::string> settingsFailures;
    SettingsWriter settings{platform.defaults,
                            [this](std::string message) { settingsFailures.push_back(std::move(message)); }};

    // Alternates the executor and the Qt event loop until neither has work.
    void settle();

private:
    InterfaceLanguage::Revision::Scope revisionScope_{revision};
    // As in the program: text in another language than Chinese is drawn in
    // the interface font first, so snapshots show its punctuation.
    ui::InterfaceFontFollower fonts_;
};

// Alternates the runtime's executor and the Qt event loop until neither has
// work; widgets deleted later go too.
void settle(rt::ManualRuntime& runtime);

// Saves widget.grab() as "<view>-<state>.png" (view in lower case) in
// $PARLARO_SNAPSHOT_DIR when it is set; nothing otherwise. Returns the grab.
QImage snapshot(QWidget& widget, const QString& view, const QString& state);

// The widget as drawn, at one device pixel per logical pixel.
QImage render(QWidget& widget);

// True when every channel is within `tolerance` of the expected colour.
bool near(QColor actual, QColor expected, int tolerance = 6);

}  // namespace parlaro::test
