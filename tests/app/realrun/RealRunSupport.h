#pragma once

// What the real-run tests share: the recording they play, what the machine
// must have for them, the private sound server they run on, and a way to
// wait in real time while the Qt loop drives the main actor.

#include "app/ServiceFactory.h"
#include "platform/sim/SimSettingsStore.h"
#include "runtime/SystemRuntime.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDirectory.h"
#include "ui/MainActorPump.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>

namespace parlaro::test {

// pocketsphinx's recording of "go forward ten meters", 16 kHz mono.
inline const char* const goForwardRecording = "/usr/share/pocketsphinx/test/data/goforward.raw";

// The private server's folder: PULSE_SERVER is unix:<folder>/pulse/native.
std::filesystem::path soundServerFolder();
// The fixture's folder names its server.
bool onPipeWire();

// What the run needs that the machine may lack (the recording, the English
// model, the English-Spanish pair, the private server and its programs, and
// the given tools); empty when all is there.
std::string missingRealRunPart(std::initializer_list<const char*> tools);

// Runs the Qt loop, which drives the main actor, until the condition holds
// (true) or patience(seconds) ran out (false): the seconds given are those
// only a hang reaches.
bool pumpUntil(const std::function<bool()>& condition, double seconds);
// Runs the Qt loop for `seconds` of real time.
void pumpFor(double seconds);

// A home folder of the test's own, so that nothing the run saves lands in
// the user's.
struct PrivateHome {
    TempDirectory folder;
    ScopedEnvironment home{"HOME", folder.path().string()};
    ScopedEnvironment dataHome{"XDG_DATA_HOME", (folder / "data").string()};
};

// Where a real run happens: the private home, and the program's runtime
// with the Qt loop driving its main actor.
struct RealRunWorld {
    PrivateHome home;
    rt::SystemRuntime runtime;
    ui::MainActorPump pump{runtime.executor()};
};

// The real program's services for a Spanish speaker whose caller speaks
// English, past the first-run wizard; the settings live as long as the
// services that read them; `prepare` adds to the settings before the
// program reads them.
struct SpanishSpeakerProgram {
    explicit SpanishSpeakerProgram(const std::function<void(sim::SimSettingsStore&)>& prepare = {});

    sim::SimSettingsStore defaults;
    app::ServiceFactory factory;
};

// Starts the model as launching does and waits (patience(30) at most) until it
// listens; the failure says what it showed instead.
testing::AssertionResult startsListening(const std::shared_ptr<AppModel>& model);

// What the sound server's tool prints, trimmed; empty when it failed.
std::string pactl(const QStringList& arguments);

// The virtual microphone as calling applications record from it.
inline constexpr const char* virtualMicSource = "parlaro_virtualmic_input";

// The user's microphone `name`, made the default input (patience(10) at most): a
// source fed from the sink `<name>_voice` that a test plays speech into,
// with the properties of a sound card so that it counts as one.
testing::AssertionResult loadMicrophone(const std::string& name);

}  // namespace parlaro::test
