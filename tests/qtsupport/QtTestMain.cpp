#include "ui/Look.h"
#include "ui/Motion.h"

#include <QApplication>
#include <QFont>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

constexpr const char* pinnedDesktopFamily = "DejaVu Sans";

// The offscreen platform's one screen is 800 × 600 unless told otherwise,
// smaller than the window's first size; the tests stand on a common
// desktop's 1920 × 1080.
std::filesystem::path writeScreenConfig()
{
    const auto path =
        std::filesystem::temp_directory_path() / ("parlaro-offscreen-" + std::to_string(::getpid()) + ".json");
    std::ofstream(path) << R"({"screens": [{"name": "screen", "x": 0, "y": 0, "width": 1920, "height": 1080,)"
                           R"( "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})";
    return path;
}

}  // namespace

// The main of every widget test binary: one application around the whole
// run, so it is torn down in order before the leak check.
int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    static QtMessageHandler previous = nullptr;
    previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
        // The offscreen platform's remarks on every window, not faults.
        if (message.contains(QStringLiteral("propagateSizeHints"))
            || message.contains(QStringLiteral("XDG_RUNTIME_DIR")))
            return;
        if (previous)
            previous(type, context, message);
    });
    // Widget tests never need a display (test discovery runs without the
    // environment ctest gives the tests, which names the same platform).
    std::filesystem::path screens;
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.isEmpty() || platform == "offscreen") {
        screens = writeScreenConfig();
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QByteArray::fromStdString(screens.string()));
    }
    QApplication app(argc, argv);
    if (!screens.empty()) {
        // Read once, at the platform's start; what the tests start after
        // this sees the plain platform.
        std::error_code ignored;
        std::filesystem::remove(screens, ignored);
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // The desktop's interface font is whatever the machine says; the tests
    // pin one, wide and everywhere, so measures and snapshots agree. A run
    // may name it as a desktop without a theme does, by fontconfig's alias.
    const char* desktop = std::getenv("PARLARO_TEST_DESKTOP_FONT");
    QApplication::setFont(QFont(QString::fromLatin1(desktop ? desktop : pinnedDesktopFamily)));
    parlaro::ui::Look::applyStyle(app);
    parlaro::ui::Motion::setEnabled(false);
    return RUN_ALL_TESTS();
}
