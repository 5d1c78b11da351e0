#include "ModelWorld.h"

#include "audio/AudioDevices.h"
#include "history/HistoryFiles.h"
#include "history/HistoryJson.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"
#include "platform/sim/SimTranslationPlatform.h"
#include "speech/HostedTranslation.h"
#include "speech/TranslationHost.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace parlaro {
namespace {

namespace fs = std::filesystem;
using test::ModelWorld;

// The sessions written into the folder, read back from their files.
std::vector<ConversationSession> writtenSessions(const fs::path& folder)
{
    std::vector<ConversationSession> sessions;
    if (!fs::exists(folder))
        return sessions;
    for (const auto& file : fs::directory_iterator(folder)) {
        if (file.path().extension() != ".json" || file.path().filename() == ConversationHistory::indexFileName)
            continue;
        if (auto session = HistoryJson::decodeSession(HistoryFiles::read(file.path()).value_or("")))
            sessions.push_back(*session);
    }
    return sessions;
}

std::size_t entriesOf(const std::vector<ConversationSession>& sessions, ConversationEntry::Side side)
{
    std::size_t count = 0;
    for (const ConversationSession& session : sessions)
        for (const ConversationEntry& entry : session.entries)
            count += entry.side == side ? 1 : 0;
    return count;
}

// A whole call on the sim platform: the launch of a set-up user, the other
// party's sentence, a hold, the end of the call and quit. Translation runs
// through the hosted back end, the history writes into a folder of the
// test's own and the default input is really switched and put back.
TEST(ModelCallScenario, AWholeCallFromLaunchToQuit)
{
    ModelWorld world;
    sim::SimTranslationPlatform system;
    test::TempDirectory folder;
    world.watchCalls = true;
    world.realListener = true;
    world.addMicrophone(10, "usb-mic", "USB");
    world.addOutput(30, "speakers", "Speakers");
    world.addVirtualDriver(50, 51);
    world.setDefaultInput(10);
    world.addCaller(true);
    world.voices["en"] = {
        {.id = "en-voice", .label = "en-voice", .quality = 2, .name = "en-voice", .language = "en-US"}};
    world.platform.defaults.set("onboardingDone", true);
    for (const auto& [source, target] : {std::pair{"en", "zh-Hans"}, std::pair{"zh-Hans", "en"}}) {
        system.setStatus(source, target, LanguageAvailability::Status::installed);
        system.setResponder(source, target, [](const sim::SimRequest& request) {
            return sim::SimReply::answer(request.target + ":" + request.text, 0.2);
        });
    }
    auto host = TranslationHost::make();
    auto translator = std::make_shared<HostedTranslation>(host);
    auto model = world.make([&](AppModel::Dependencies& d) { d.translator = translator; });
    model->useHistory(ConversationHistory::make(folder.path(), world.platform.defaults));
    const auto at = [&, t0 = world.runtime.clock().now()](double seconds) {
        world.runtime.clock().advanceTo(t0 + seconds);
    };

    // Launch: listening starts by itself, the call is noticed and the
    // virtual microphone becomes the default input.
    world.run([&] { return model->start(); });
    EXPECT_TRUE(model->isListening.get());
    EXPECT_EQ(model->listeningStatus.get(), "自动收听中 · 对方说话即记录并翻译");
    EXPECT_TRUE(model->callActive.get());
    EXPECT_EQ(AudioDevices::defaultDeviceID(true), 50u);
    test::given.set(model->micConfirmed, true).set(model->showMicCheck, false);

    // The other party's sentence: an entry, its translation, one file 5 s later.
    ASSERT_EQ(world.sessions.size(), 1u);
    world.sessions.back().session->deliver("Good morning", true);
    world.runtime.runUntilIdle();
    ASSERT_EQ(model->entries.get().size(), 1u);
    at(0.2);
    EXPECT_EQ(model->entries.get().at(0).translated, "zh-Hans:Good morning");
    at(4.9);
    EXPECT_TRUE(writtenSessions(folder.path()).empty());
    at(5.0);
    EXPECT_EQ(writtenSessions(folder.path()).size(), 1u);

    // A hold: recognized, translated, played into the virtual device and
    // recorded as the user's entry.
    world.recorder->finalText = "早上好";
    model->beginHoldToTalk();
    world.runtime.runUntilIdle();
    model->endHoldToTalk();
    world.runtime.runUntilIdle();
    at(6.0);
    ASSERT_EQ(world.speaker->spoken.size(), 1u);
    EXPECT_EQ(world.speaker->spoken[0].text, "en:早上好");
    EXPECT_EQ(world.speaker->spoken[0].devices.front(), 51u);
    ASSERT_EQ(model->entries.get().size(), 2u);
    EXPECT_EQ(model->entries.get().at(1).side, ConversationEntry::Side::me);
    at(11.0);
    EXPECT_EQ(entriesOf(writtenSessions(folder.path()), ConversationEntry::Side::me), 1u);

    // The caller hangs up: the session closes 1.55 s later.
    world.setCallerReading(false);
    world.notifyDriverIO();
    world.runtime.runUntilIdle();
    at(12.5);
    EXPECT_TRUE(model->callActive.get());
    EXPECT_TRUE(ModelTestAccess::filing(*model).sessionID.get());
    at(12.55);
    EXPECT_FALSE(model->callActive.get());
    EXPECT_EQ(ModelTestAccess::filing(*model).sessionID.get(), std::nullopt);

    // A last sentence, then quit: it is written at once and the user's
    // microphone is the default input again.
    world.sessions.back().session->deliver("Bye", true);
    world.runtime.runUntilIdle();
    at(13.0);
    EXPECT_EQ(writtenSessions(folder.path()).size(), 1u);
    model->closeConversationSession();
    EXPECT_EQ(ModelTestAccess::filing(*model).sessionID.get(), std::nullopt);
    EXPECT_EQ(writtenSessions(folder.path()).size(), 2u);
    model->shutdown();
    EXPECT_EQ(AudioDevices::defaultDeviceID(true), 10u);
    EXPECT_FALSE(model->isListening.get());
    EXPECT_FALSE(world.platform.defaults.get<DefaultsDictionary>("systemAudioRouteRecovery").has_value());

    model.reset();
    translator.reset();
    host.reset();
    world.runtime.executor().shutdown();
}

}  // namespace
}  // namespace parlaro
