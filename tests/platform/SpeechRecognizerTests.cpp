#include "platform/SpeechRecognizer.h"
#include "platform/linux/sphinx/SphinxSpeechRecognizer.h"
#include "platform/sim/SimSpeechRecognizer.h"
#include "runtime/ManualRuntime.h"

#include "support/Patience.h"

#include <gtest/gtest.h>

using namespace parlaro;
using Event = sim::SimRecognitionEvent;

TEST(SpeechRecognizer, wordRangesCountUtf16Units)
{
    EXPECT_EQ(utf16Length(""), 0);
    EXPECT_EQ(utf16Length("héllo"), 5);
    EXPECT_EQ(utf16Length("你好。"), 3);
    EXPECT_EQ(utf16Length("a😀b"), 4);

    auto chinese = makeTranscription("你好。我们走吧", {"你好", "我们", "走", "吧"});
    EXPECT_EQ(chinese.formattedString, "你好。我们走吧");
    EXPECT_EQ(chinese.segments,
              (std::vector<TranscriptionSegment>{{"你好", {0, 2}}, {"我们", {3, 2}}, {"走", {5, 1}}, {"吧", {6, 1}}}));

    // Repeated words are found one after the other; missing ones are left out.
    auto repeated = makeTranscription("😀 go, go", {"go", "stop", "go"});
    EXPECT_EQ(repeated.segments, (std::vector<TranscriptionSegment>{{"go", {3, 2}}, {"go", {7, 2}}}));

    EXPECT_EQ(sim::spoken("Hello there. How are you").segments,
              (std::vector<TranscriptionSegment>{
                  {"Hello", {0, 5}}, {"there", {6, 5}}, {"How", {13, 3}}, {"are", {17, 3}}, {"you", {21, 3}}}));
}

TEST(SpeechRecognizer, englishKeepsTheCapitalOfNamesAndOnlyOfNamesInsideASentence)
{
    // An English recognizer reads the word list on its own thread as it is
    // made, before anything asks for it.
    sys::SphinxSpeechRecognitionService service;
    if (service.makeRecognizer("en-US"))
        EXPECT_TRUE(test::waitUntil(englishWordListRead));
    for (const char* name : {"mr", "Nicholas", "chicago", "Chicago's", "niger"})
        EXPECT_TRUE(capitalizedInEnglish(name)) << name;
    for (const char* word : {"may", "bill", "mark", "is", "pm", ""})
        EXPECT_FALSE(capitalizedInEnglish(word)) << word;
    EXPECT_EQ(withinSentence("Chicago is far", true), "Chicago is far");
    EXPECT_EQ(withinSentence("Bill me later", true), "bill me later");
    EXPECT_EQ(withinSentence("Chicago is far", false), "chicago is far");
}

TEST(SimSpeechRecognizer, playsScriptsOnTheVirtualClockAndRecordsWhatItWasGiven)
{
    rt::ManualRuntime runtime;
    sim::SimSpeechRecognitionService service;
    service.addLocale("en-US");
    service.addLocale("fr-FR", false, AudioFormat{44100, 2, SampleType::int16, true});
    EXPECT_EQ(service.makeRecognizer("de-DE"), nullptr);
    EXPECT_FALSE(service.makeRecognizer("fr-FR")->supportsOnDeviceRecognition());

    service.script("en-US",
                   {Event::partial(sim::spoken("go"), 1.0), Event::partial(sim::spoken("go on"), 2.0),
                    Event::finalAtEndOfAudio(sim::spoken("go on."), 0.5)});
    auto recognizer = service.makeRecognizer("en-US");
    auto request = recognizer->makeRequest();
    EXPECT_EQ(request->nativeAudioFormat(), sim::SimSpeechRecognitionService::defaultNativeFormat());
    std::vector<std::pair<double, SpeechRecognitionResult>> heard;
    auto task = recognizer->recognitionTask(
        request, [&](const auto& result, const auto&) { heard.emplace_back(runtime.clock().uptime(), *result); });
    PcmBuffer buffer(request->nativeAudioFormat(), 160);
    buffer.setFrameLength(160);
    request->append(buffer);
    runtime.advance(2.5);
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_DOUBLE_EQ(heard[0].first, 1.0);
    EXPECT_EQ(heard[1].second.bestTranscription.formattedString, "go on");
    EXPECT_FALSE(heard[1].second.isFinal);

    request->endAudio();
    request->append(buffer);
    runtime.advance(1.0);
    ASSERT_EQ(heard.size(), 3u);
    EXPECT_DOUBLE_EQ(heard[2].first, 3.0);
    EXPECT_TRUE(heard[2].second.isFinal);
    auto recorded = service.requests().at(0);
    EXPECT_EQ(recorded->appendedFrames(), 160u);
    EXPECT_EQ(recorded->audioEndedAt(), 2.5);

    // Without a script a task never answers; a cancelled one hears nothing more.
    auto silentRequest = recognizer->makeRequest();
    int calls = 0;
    auto silent = recognizer->recognitionTask(silentRequest, [&](const auto&, const auto&) { ++calls; });
    silentRequest->endAudio();
    runtime.advance(60.0);
    service.tasks().at(1)->fail(DomainError("kAFAssistantErrorDomain", 1110, "No speech detected"));
    silent->cancel();
    runtime.advance(1.0);
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(service.tasks().at(1)->isCancelled());

    // An authorization without an answer waits for one.
    service.setAuthorization(std::nullopt);
    std::optional<SpeechAuthorizationStatus> status;
    service.requestAuthorization([&](SpeechAuthorizationStatus s) { status = s; });
    runtime.advance(5.0);
    EXPECT_FALSE(status);
    service.answerAuthorization(SpeechAuthorizationStatus::denied);
    runtime.runUntilIdle();
    EXPECT_EQ(status, SpeechAuthorizationStatus::denied);
}
