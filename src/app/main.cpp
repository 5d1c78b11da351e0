#include "platform/Platform.h"
#include "platform/linux/EnvironmentPreferredLanguages.h"
#include "platform/linux/FileResourceBundles.h"
#include "platform/linux/JsonFileUserDefaults.h"
#include "platform/linux/icu/IcuTextServices.h"
#include "runtime/SystemRuntime.h"
#include "settings/QtTranslations.h"
#include "speech/InterfaceLanguage.h"
#include "ui/LayoutDirectionFollower.h"
#include "ui/Look.h"
#include "ui/MainActorPump.h"
#include "ui/StatusDot.h"

#include <QApplication>

using namespace parlaro;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Parlaro"));
    rt::SystemRuntime runtime;
    ui::MainActorPump pump(runtime.executor());

    sys::JsonFileUserDefaults defaults(sys::JsonFileUserDefaults::defaultPath("settings"));
    sys::EnvironmentPreferredLanguages languages;
    sys::IcuTextServices text;
    sys::FileResourceBundles bundles(sys::FileResourceBundles::locateRoot().value_or(std::filesystem::path()));
    PlatformScope platform(PlatformServices{&defaults, &languages, &text, &bundles});

    settings::installQtTranslations(app, InterfaceLanguage::current());
    ui::Look::apply(app);
    ui::LayoutDirectionFollower direction;
    ui::AppBackground window;
    window.setWindowTitle(QStringLiteral("Parlaro"));
    window.resize(720, 560);
    window.show();
    return QApplication::exec();
}
