#include "RealRunSupport.h"

#include "model/ModelDependencies.h"
#include "model/ModelTestAccess.h"
#include "runtime/Task.h"
#include "support/Patience.h"
#include "support/ServerLogOnFailure.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace fs = std::filesystem;

namespace parlaro::test {

namespace {

[[maybe_unused]] const bool serverLogsShown = showServerLogsOnFailure([] { return soundServerFolder(); });

// Runs the Qt loop until the condition holds or `seconds` of real time
// passed.
bool pumpFor(const std::function<bool()>& condition, double seconds)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > static_cast<qint64>(seconds * 1000))
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace

fs::path soundServerFolder()
{
    const char* variable = std::getenv("PULSE_SERVER");
    std::string server = variable ? variable : "";
    if (server.starts_with("unix:"))
        server.erase(0, 5);
    return fs::path(server).parent_path().parent_path();
}

bool onPipeWire()
{
    return soundServerFolder().filename().string().find("-pipewire-") != std::string::npos;
}

std::string missingRealRunPart(std::initializer_list<const char*> tools)
{
    if (!fs::exists(goForwardRecording))
        return "the recorded utterance (pocketsphinx-testdata)";
    if (!fs::exists("/usr/share/pocketsphinx/model/en-us"))
        return "the English speech model (pocketsphinx-en-us)";
    if (!fs::exists("/usr/share/apertium/modes/eng-spa.mode") || !fs::exists("/usr/share/apertium/modes/spa-eng.mode"))
        return "the English-Spanish translator (apertium-eng-spa)";
    if (!std::getenv("PULSE_SERVER"))
        return "a private sound server (PULSE_SERVER is not set)";
    const bool pipewire = onPipeWire();
    for (const char* program : pipewire
             ? std::initializer_list<const char*>{"pipewire", "wireplumber", "pipewire-pulse"}
             : std::initializer_list<const char*>{"pulseaudio"}) {
        if (QStandardPaths::findExecutable(QString::fromUtf8(program)).isEmpty())
            return std::string(program)
                + (pipewire ? " (the PipeWire sound server)" : " (the PulseAudio sound server)");
    }
    for (const char* tool : tools) {
        if (QStandardPaths::findExecutable(QString::fromUtf8(tool)).isEmpty())
            return std::string(tool) + " (pulseaudio-utils)";
    }
    return {};
}

bool pumpUntil(const std::function<bool()>& condition, double seconds)
{
    return pumpFor(condition, patience(seconds));
}

void pumpFor(double seconds)
{
    pumpFor([] { return false; }, seconds);
}

std::string pactl(const QStringList& arguments)
{
    QProcess tool;
    tool.start(QStringLiteral("pactl"), arguments);
    if (!tool.waitForFinished(static_cast<int>(patience(30) * 1000)) || tool.exitCode() != 0)
        return {};
    return tool.readAllStandardOutput().trimmed().toStdString();
}

testing::AssertionResult loadMicrophone(const std::string& name)
{
    const QString source = QString::fromStdString(name);
    pactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
           QStringLiteral("sink_name=") + source + QStringLiteral("_voice")});
    pactl({QStringLiteral("load-module"), QStringLiteral("module-remap-source"),
           QStringLiteral("master=") + source + QStringLiteral("_voice.monitor"),
           QStringLiteral("source_name=") + source,
           QStringLiteral("source_properties='device.api=alsa device.description=Microphone'")});
    if (pumpUntil(
            [&] {
                pactl({QStringLiteral("set-default-source"), source});
                return pactl({QStringLiteral("get-default-source")}) == name;
            },
            10))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "the server did not make " << name << " the default input";
}

testing::AssertionResult startsListening(const std::shared_ptr<AppModel>& model)
{
    rt::spawn([model]() -> rt::Async<void> { co_await model->start(); });
    if (!pumpUntil([&] { return model->isListening.get() || model->listeningFailed.get(); }, 30))
        return testing::AssertionFailure() << "listening did not start: " << model->listeningStatus.get();
    if (!model->isListening.get())
        return testing::AssertionFailure()
            << ModelTestAccess::listeningError(*model).get().value_or(model->listeningStatus.get());
    return testing::AssertionSuccess();
}

namespace {

sim::SimSettingsStore& spanishSpeakerSettings(sim::SimSettingsStore& defaults,
                                              const std::function<void(sim::SimSettingsStore&)>& prepare)
{
    defaults.set("myLanguage", std::string("es"));
    defaults.set("theirLanguage", std::string("en"));
    defaults.set("onboardingDone", true);
    if (prepare)
        prepare(defaults);
    return defaults;
}

}  // namespace

SpanishSpeakerProgram::SpanishSpeakerProgram(const std::function<void(sim::SimSettingsStore&)>& prepare)
    : factory({.kind = app::ServiceFactory::Kind::real,
               .defaults = &spanishSpeakerSettings(defaults, prepare),
               .historyFolder = std::nullopt,
               .engineParts = freshEngineParts()})
{
}

}  // namespace parlaro::test
