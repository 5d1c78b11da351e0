#include "UiWorld.h"

#include "ui/Look.h"

#include <QApplication>
#include <QDir>
#include <QLayout>
#include <QWidget>

#include <cstdlib>

namespace parlaro::test {

UiWorld::UiWorld()
{
    QApplication::setLayoutDirection(Qt::LeftToRight);
}

UiWorld::~UiWorld()
{
    // Widgets deleted later go now, while the runtime still stands.
    settle();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void UiWorld::settle()
{
    test::settle(runtime);
}

void settle(rt::ManualRuntime& runtime)
{
    for (int round = 0; round < 1000; ++round) {
        auto jobs = runtime.runUntilIdle();
        QApplication::sendPostedEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QApplication::processEvents();
        if (jobs == 0 && runtime.executor().pendingJobs() == 0)
            return;
    }
}

QImage render(QWidget& widget)
{
    widget.ensurePolished();
    if (auto* layout = widget.layout())
        layout->activate();
    return widget.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

QImage snapshot(QWidget& widget, const QString& view, const QString& state)
{
    auto image = render(widget);
    const char* dir = std::getenv("PARLARO_SNAPSHOT_DIR");
    if (dir && *dir) {
        QDir folder(QString::fromLocal8Bit(dir));
        folder.mkpath(QStringLiteral("."));
        image.save(folder.filePath(view.toLower() + QLatin1Char('-') + state + QStringLiteral(".png")));
    }
    return image;
}

bool near(QColor actual, QColor expected, int tolerance)
{
    return std::abs(actual.red() - expected.red()) <= tolerance
        && std::abs(actual.green() - expected.green()) <= tolerance
        && std::abs(actual.blue() - expected.blue()) <= tolerance
        && std::abs(actual.alpha() - expected.alpha()) <= tolerance;
}

}  // namespace parlaro::test
