#pragma once

#include "ModelWorld.h"
#include "model/HoldToTalk.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"

#include <memory>
#include <string>
#include <vector>

namespace parlaro::test {

// A model ready to talk: a confirmed microphone (10), the driver, headphones
// (30), an English voice and both downloads in place. Every status text the
// model shows is collected in `statuses`.
struct HoldWorld {
    ModelWorld world;
    std::shared_ptr<AppModel> model;
    std::shared_ptr<std::vector<std::string>> statuses = std::make_shared<std::vector<std::string>>();
    rt::Subscription statusWatch;

    HoldWorld()
    {
        world.addMicrophone(10, "usb-mic", "USB");
        world.addOutput(30, "speakers", "Speakers");
        world.addVirtualDriver();
        world.voices["en"] = {
            {.id = "en-voice", .label = "en-voice", .quality = 2, .name = "en-voice", .language = "en-US"}};
        model = world.make();
        ModelTestAccess::refreshDevices(*model);
        model->setSelectedMonitorOutputID(30);
        ModelTestAccess::setSelectedInputID(*model, 10);
        test::given.set(model->micConfirmed, true).set(ModelTestAccess::mySpeechReady(*model), true);
        test::given.set(model->translationReady, true);
        world.runtime.runUntilIdle();
        statusWatch = model->status.subscribe([this] { statuses->push_back(model->status.get()); });
    }
    void run() { world.runtime.runUntilIdle(); }
    void press()
    {
        model->beginHoldToTalk();
        run();
    }
    void release()
    {
        model->endHoldToTalk();
        run();
    }
    // From the press to the recorder running, and the release with the
    // recorder's final text.
    void hold(const std::string& finalText)
    {
        press();
        world.recorder->finalText = finalText;
        release();
    }
    bool anyHoldFlag() const
    {
        return ModelTestAccess::hold(*model).isStartingRecording.get() || model->isHoldingToTalk.get()
            || model->isRecording.get();
    }
    std::vector<std::string> spoken() const
    {
        std::vector<std::string> texts;
        for (const auto& speech : world.speaker->spoken)
            texts.push_back(speech.text);
        return texts;
    }
    void at(double seconds) { world.runtime.clock().advanceTo(t0 + seconds); }
    rt::Instant t0 = world.runtime.clock().now();
};

// The hold built alone: it shows itself in fields of its own, records with
// the world's recorder and keeps what it sends in `sent`.
struct LoneHold {
    ModelWorld world;
    ModelField<bool> isHoldingToTalk{false};
    ModelField<bool> isRecording{false};
    ModelField<std::string> mePartial;
    ModelField<std::string> status;
    ModelField<std::optional<std::string>> errorMessage;
    ModelField<CallLanguage> myLanguage{*CallLanguage::find("en")};
    ModelField<CallLanguage> theirLanguage{CallLanguage::chinese()};
    ModelField<bool> originalVoiceOn{false};
    ModelField<bool> micAuthorized{true};
    std::vector<std::string> sent;
    std::shared_ptr<HoldToTalk> hold = std::make_shared<HoldToTalk>(
        HoldToTalk::Feeds{.isHoldingToTalk = isHoldingToTalk,
                          .isRecording = isRecording,
                          .mePartial = mePartial,
                          .status = status,
                          .errorMessage = errorMessage,
                          .myLanguage = myLanguage,
                          .theirLanguage = theirLanguage,
                          .originalVoiceOn = originalVoiceOn,
                          .micAuthorized = micAuthorized,
                          .recorder = world.recorder,
                          .requestMicPermission = []() -> rt::Async<void> { co_return; },
                          .send = [this](std::string text, HoldPlay, std::function<bool()>) -> rt::Async<void> {
                              sent.push_back(std::move(text));
                              co_return;
                          },
                          .keepDraft = [](std::string) {},
                          .endFreeListening = [] {},
                          .beginActivity =
                              [this](const std::string& reason) {
                                  world.activities.push_back(reason);
                                  return HoldToTalk::ActivityToken();
                              },
                          .endActivity = [this](const HoldToTalk::ActivityToken&) { ++world.activitiesEnded; }},
        ModelTestAccess::writer());

    void run() { world.runtime.runUntilIdle(); }
    // A press the model accepted, on the microphone 10.
    void press()
    {
        hold->start(SpeechEngine::speech, 10, false);
        run();
    }
    bool anyHoldFlag() const { return hold->isStartingRecording.get() || isHoldingToTalk.get() || isRecording.get(); }
};

}  // namespace parlaro::test
