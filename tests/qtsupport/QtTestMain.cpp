#include "ui/Look.h"
#include "ui/Motion.h"

#include <QApplication>

#include <gtest/gtest.h>

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
    // environment ctest gives the tests).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    parlaro::ui::Look::applyStyle(app);
    parlaro::ui::Motion::setEnabled(false);
    return RUN_ALL_TESTS();
}
