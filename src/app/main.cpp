#include "app/Application.h"
// After the engine headers: Qt's keyword macros would rename their members.
#include "app/AppIcon.h"
#include "app/CommandLine.h"
#include "platform/linux/Environment.h"
#include "settings/AppInfo.h"

#include <QApplication>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

using namespace parlaro;

namespace {

// Started with its input, output or errors closed (as some launchers do),
// the program would hand those numbers to the first socket or pipe it
// opens: whatever a library writes to its output would land in that
// socket, and a child given that pipe as its input would also find it as
// its own output. The null device holds each place instead.
void keepStandardDescriptors()
{
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor)
        if (::fcntl(descriptor, F_GETFD) < 0 && errno == EBADF)
            ::open("/dev/null", descriptor == STDIN_FILENO ? O_RDONLY : O_WRONLY);
}

std::vector<std::string> arguments(int argc, char** argv)
{
    std::vector<std::string> list;
    for (int i = 1; i < argc; ++i)
        list.emplace_back(argv[i]);
    return list;
}

int refuse(const app::CommandLine& line)
{
    std::fprintf(stderr,
                 line.valueMissing ? "parlaro: option '%s' needs a value\n%s" : "parlaro: unknown option '%s'\n%s",
                 line.unknown.c_str(), app::CommandLine::usage().c_str());
    return app::CommandLine::usageExitCode;
}

// Help, version and anything but our options and Qt's are answered before
// Qt starts, so they need no display; std::nullopt: go on.
std::optional<int> answerEarly(int argc, char** argv)
{
    const app::CommandLine line = app::CommandLine::early(arguments(argc, argv));
    switch (line.action) {
    case app::CommandLine::Action::usageError:
        return refuse(line);
    case app::CommandLine::Action::help:
        std::fputs(app::CommandLine::usage().c_str(), stdout);
        return 0;
    case app::CommandLine::Action::version:
        std::fputs(app::CommandLine::versionLine(settings::AppInfo::compiledIn().version).c_str(), stdout);
        return 0;
    default:
        return std::nullopt;
    }
}

// While Qt looks for the display: its complaints are held back, and when it
// finds none (and would abort) the user gets one sentence and exit code 1.
// Once it has one, what was held back is said as usual.
QtMessageHandler qtHandler = nullptr;
struct HeldBack {
    QtMsgType type;
    const char* file;
    int line;
    const char* function;
    const char* category;
    QString message;
};
std::vector<HeldBack> heldBack;

void whileFindingTheDisplay(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtFatalMsg) {
        heldBack.push_back({type, context.file, context.line, context.function, context.category, message});
        return;
    }
    std::fputs("parlaro: there is no display to show the window on; start Parlaro from a desktop session.\n", stderr);
    std::_Exit(1);
}

void displayFound()
{
    qInstallMessageHandler(qtHandler);
    for (const HeldBack& held : heldBack)
        qt_message_output(held.type, QMessageLogContext(held.file, held.line, held.function, held.category),
                          held.message);
    heldBack.clear();
}

}  // namespace

int main(int argc, char** argv)
{
    keepStandardDescriptors();
    // Before anything reads them: a folder the program refuses is refused
    // for every library it loads as well.
    sys::settleProcessFolderVariables();
    if (const auto code = answerEarly(argc, argv))
        return *code;
    qtHandler = qInstallMessageHandler(whileFindingTheDisplay);
    QApplication qt(argc, argv);
    displayFound();
    // Qt has taken its own options out of argv by now.
    const app::CommandLine line = app::CommandLine::parse(arguments(argc, argv));
    if (line.action == app::CommandLine::Action::usageError)
        return refuse(line);
    QApplication::setApplicationName(QStringLiteral("Parlaro"));
    QApplication::setDesktopFileName(QString::fromLatin1(app::desktopId));
    QApplication::setWindowIcon(app::applicationIcon());

    app::Application::Options options;
    // `--sim`, or PARLARO_AUDIO=sim: the simulated machine, which touches no
    // sound server, speech engine, translator, global keys or settings file.
    const bool simulated = line.simulated || qEnvironmentVariable("PARLARO_AUDIO") == QStringLiteral("sim");
    options.kind = simulated ? app::ServiceFactory::Kind::sim : app::ServiceFactory::Kind::real;
    // Lets a test run its own copy beside the user's.
    options.instanceName = qEnvironmentVariable("PARLARO_INSTANCE");
    app::Application parlaro(std::move(options));
    if (!parlaro.start())
        return parlaro.declinedExitCode();
    // The tests that start the program as a process wait for this line.
    std::fprintf(stderr, "parlaro: Parlaro is running.\n");
    return app::Application::exec();
}
