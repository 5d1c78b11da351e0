// The sound server killed in the middle of a call and started again: what ran
// before comes back on its own. Runs on the real-run tests' private server,
// which it kills and starts again itself.

#include "app/ServiceFactory.h"

#include "RealRunSupport.h"

#include "model/ModelState.h"
#include "runtime/Task.h"
#include "speech/CallLanguage.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <vector>

using namespace parlaro;
using test::pactl;
using test::pumpFor;
using test::pumpUntil;
namespace fs = std::filesystem;

namespace {

using test::virtualMicSource;

// The server dies as a crash would end it: PulseAudio's daemon, or PipeWire
// with its session manager and pulse server.
bool killServer()
{
    const fs::path folder = test::soundServerFolder();
    std::vector<fs::path> pidFiles;
    if (test::onPipeWire())
        pidFiles = {folder / "pipewire-pulse.pid", folder / "wireplumber.pid", folder / "pipewire.pid"};
    else
        pidFiles = {folder / "pulse" / "pid"};
    bool killed = false;
    for (const fs::path& file : pidFiles) {
        std::ifstream pidFile(file);
        long pid = 0;
        if ((pidFile >> pid) && pid > 0)
            killed = ::kill(static_cast<pid_t>(pid), SIGKILL) == 0 || killed;
    }
    return killed;
}

bool startServer()
{
    const std::string script =
        std::string(PARLARO_SOUND_SERVER_SCRIPTS) + (test::onPipeWire() ? "/pipewire.sh" : "/daemon.sh");
    const std::string command = script + " start " + test::soundServerFolder().string();
    return std::system(command.c_str()) == 0;
}

// The loudest sample of raw signed 16-bit audio.
int loudest(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    int peak = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto sample = static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[i])
                                                      | (static_cast<std::uint8_t>(bytes[i + 1]) << 8));
        peak = std::max(peak, std::abs(static_cast<int>(sample)));
    }
    return peak;
}

}  // namespace

TEST(RealRunServerRestart, ListeningAndTheVirtualMicrophoneComeBackOnTheirOwn)
{
    if (const std::string missing = test::missingRealRunPart({"paplay", "parecord", "pactl"}); !missing.empty())
        GTEST_SKIP() << "not installed: " << missing;

    test::RealRunWorld world;
    ASSERT_TRUE(test::loadMicrophone("test_restart_mic"));

    test::SpanishSpeakerProgram program;
    app::ServiceFactory& factory = program.factory;
    ASSERT_TRUE(factory.audioServerReachable()) << "the private sound server did not answer";
    const auto model = factory.model();
    ASSERT_TRUE(test::startsListening(model));
    ASSERT_TRUE(pumpUntil([&] { return pactl({QStringLiteral("get-default-source")}) == virtualMicSource; }, 30))
        << "the virtual microphone is not the default input: " << pactl({QStringLiteral("get-default-source")});
    // The user confirms the microphone in the check that opens at start.
    ASSERT_TRUE(model->selectedInputID.get());
    test::given.set(model->showMicCheck, false).set(model->micConfirmed, true);
    model->dismissError();

    ASSERT_TRUE(killServer());
    ASSERT_TRUE(pumpUntil([&] { return model->audioServerLost.get(); }, 30)) << "the loss went unnoticed";
    // Long enough for the far-end capture to give up.
    pumpFor(5.0);
    EXPECT_EQ(model->errorMessage.get(), std::nullopt);

    ASSERT_TRUE(startServer());
    ASSERT_TRUE(test::loadMicrophone("test_restart_mic"));
    const auto restarted = std::chrono::steady_clock::now();
    const bool back = pumpUntil([&] { return !model->audioServerLost.get() && model->isListening.get(); }, 30);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - restarted).count();
    ASSERT_TRUE(back) << "listening did not come back: " << model->listeningStatus.get() << ", "
                      << model->errorMessage.get().value_or("no error");
    std::cout << "[ restart  ] listening again " << seconds << " s after the server started\n";
    EXPECT_TRUE(pumpUntil([&] { return pactl({QStringLiteral("get-default-source")}) == virtualMicSource; }, 30))
        << "the default input is " << pactl({QStringLiteral("get-default-source")});
    pumpFor(1.0);
    EXPECT_EQ(model->errorMessage.get(), std::nullopt);
    EXPECT_FALSE(model->showMicCheck.get());
    EXPECT_TRUE(model->micConfirmed.get());

    // A hold: English from the microphone, spoken in Spanish into the virtual
    // microphone.
    rt::spawn([model]() -> rt::Async<void> {
        co_await model->changeLanguages(*CallLanguage::find("en"), *CallLanguage::find("es"),
                                        AppModel::DownloadConsent::given);
    });
    ASSERT_TRUE(pumpUntil([&] { return model->myLanguage.get().id == "en" && !model->isChangingLanguage.get(); }, 30))
        << model->status.get();
    model->setConfirmBeforeSend(false);
    const fs::path heard = world.home.folder / "virtual-mic.raw";
    QProcess recorder;
    recorder.start(QStringLiteral("parecord"),
                   {QStringLiteral("--raw"), QStringLiteral("--format=s16le"), QStringLiteral("--rate=16000"),
                    QStringLiteral("--channels=1"), QStringLiteral("--device=") + QString::fromLatin1(virtualMicSource),
                    QString::fromStdString(heard.string())});
    ASSERT_TRUE(recorder.waitForStarted(5000));
    model->beginHoldToTalk();
    ASSERT_TRUE(pumpUntil([&] { return model->isRecording.get(); }, 30))
        << model->status.get() << " " << model->errorMessage.get().value_or("");
    QProcess speech;
    speech.start(QStringLiteral("paplay"),
                 {QStringLiteral("--raw"), QStringLiteral("--rate=16000"), QStringLiteral("--channels=1"),
                  QStringLiteral("--format=s16le"), QStringLiteral("--device=test_restart_mic_voice"),
                  QString::fromUtf8(test::goForwardRecording)});
    ASSERT_TRUE(speech.waitForStarted(5000));
    ASSERT_TRUE(pumpUntil([&] { return speech.state() == QProcess::NotRunning; }, 30));
    pumpFor(0.5);
    model->endHoldToTalk();
    EXPECT_TRUE(pumpUntil([&] { return model->isSpeaking.get(); }, 30))
        << "nothing was played: " << model->status.get() << " " << model->errorMessage.get().value_or("");
    EXPECT_TRUE(pumpUntil([&] { return !model->isSpeaking.get(); }, 30));
    pumpFor(0.5);
    recorder.terminate();
    recorder.waitForFinished(5000);
    EXPECT_GT(loudest(heard), 1000) << "the virtual microphone stayed silent; status " << model->status.get();

    model->shutdown();
}
