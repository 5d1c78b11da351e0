#include "app/Application.h"
// After the engine headers: Qt's keyword macros would rename their members.
#include "app/AppIcon.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

using namespace parlaro;

namespace {

// `--sim`, or PARLARO_AUDIO=sim: the simulated machine, which touches no
// sound server, speech engine, translator, global keys or settings file.
bool simulated(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--sim") == 0)
            return true;
    }
    return qEnvironmentVariable("PARLARO_AUDIO") == QStringLiteral("sim");
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication qt(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Parlaro"));
    QApplication::setDesktopFileName(QString::fromLatin1(app::desktopId));
    QApplication::setWindowIcon(app::applicationIcon());

    app::Application::Options options;
    options.kind = simulated(argc, argv) ? app::ServiceFactory::Kind::sim : app::ServiceFactory::Kind::real;
    // Lets a test run its own copy beside the user's.
    options.instanceName = qEnvironmentVariable("PARLARO_INSTANCE");
    app::Application parlaro(std::move(options));
    if (!parlaro.start())
        return parlaro.declinedExitCode();
    // The tests that start the program as a process wait for this line.
    std::fprintf(stderr, "Parlaro is running.\n");
    return app::Application::exec();
}
