#include "platform/linux/sphinx/SphinxSpeechRecognizer.h"
#include "runtime/ManualRuntime.h"
#include "support/PocketsphinxRecordings.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace parlaro;

namespace {

constexpr const char* recording = "/usr/share/pocketsphinx/test/data/goforward.raw";
constexpr const char* secondRecording = "/usr/share/pocketsphinx/test/data/something.raw";

// A 16 kHz mono 16-bit WAVE file with a plain 44-byte header.
constexpr const char* librivoxRecording =
    "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0930.wav";
constexpr std::streamoff waveHeaderBytes = 44;
// Over six seconds.
constexpr const char* longLibrivoxRecording =
    "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0920.wav";
constexpr const char* longLibrivoxHeard =
    "had he married a more amiable woman he might have been made still more respectable many watts";
// The same, as the first utterance of a decoder new to it. The reference is
// "had he married a more a amiable woman he might have been made still more
// respectable than he was": four words wrong either way.
constexpr const char* longLibrivoxHeardFirst =
    "had he married a more amiable wall and he might have been made still more respectable that he was";

struct Outcome {
    std::vector<SpeechRecognitionResult> results;
    std::vector<DomainError> errors;
};

// Feeds the recording in 0.1 s buffers of the given format, ends the audio and
// drives the main executor until the task has answered for the last time.
// The decoder runs on its own thread, so this waits for it in real time; a
// watchdog ends the wait should the answer never come.
Outcome recognize(rt::ManualRuntime& runtime, SpeechRecognizer& recognizer, const std::vector<std::int16_t>& samples,
                  const AudioFormat& format, bool punctuate = false, std::size_t chunk = 1600,
                  const std::string& source = {})
{
    Outcome outcome;
    auto request = recognizer.makeRequest();
    request->options.audioSource = source;
    request->options.requiresOnDeviceRecognition = true;
    request->options.addsPunctuation = punctuate;
    request->options.taskHint = SpeechTaskHint::dictation;
    auto task = recognizer.recognitionTask(request, [&](const auto& result, const auto& error) {
        if (result)
            outcome.results.push_back(*result);
        if (error)
            outcome.errors.push_back(*error);
        if (error || (result && result->isFinal))
            runtime.executor().stop();
    });
    for (std::size_t at = 0; at < samples.size(); at += chunk) {
        std::size_t frames = std::min(chunk, samples.size() - at);
        PcmBuffer buffer(format, frames);
        buffer.setFrameLength(frames);
        for (std::size_t f = 0; f < frames; ++f)
            buffer.setFloatSample(f, 0, int16ToFloat(samples[at + f]));
        request->append(buffer);
    }
    request->endAudio();

    test::runUntilStopped(runtime);
    return outcome;
}

// What every test of the real recognizer arranges: the executor its answers
// come on, a service of its own and 16-bit mono audio at 16 kHz. A test
// calls `requireModelAnd` first and returns when it skipped.
class SphinxSpeechRecognizer : public ::testing::Test {
protected:
    void requireModelAnd(std::initializer_list<const char*> recordings)
    {
        if (const auto missing = test::missingEnglishSphinx(recordings))
            GTEST_SKIP() << *missing;
    }

    std::shared_ptr<SpeechRecognizer> english() { return service.makeRecognizer("en-US"); }

    rt::ManualRuntime runtime;
    sys::SphinxSpeechRecognitionService service;
    const AudioFormat int16Mono{16000, 1, SampleType::int16, true};
};

}  // namespace

TEST_F(SphinxSpeechRecognizer, findsRecognizersOnlyForInstalledModelsAndAlwaysAuthorizes)
{
    requireModelAnd({});
    if (IsSkipped())
        return;

    std::optional<SpeechAuthorizationStatus> status;
    service.requestAuthorization([&](SpeechAuthorizationStatus s) { status = s; });
    EXPECT_EQ(status, SpeechAuthorizationStatus::authorized);

    auto recognizer = service.makeRecognizer("en-US");
    ASSERT_NE(recognizer, nullptr);
    EXPECT_EQ(recognizer->locale(), "en-US");
    EXPECT_TRUE(recognizer->supportsOnDeviceRecognition());
    EXPECT_EQ(recognizer->makeRequest()->nativeAudioFormat(), (AudioFormat{16000, 1, SampleType::int16, true}));
    EXPECT_NE(service.makeRecognizer("en_US"), nullptr);
    EXPECT_NE(service.makeRecognizer("en"), nullptr);
    EXPECT_EQ(service.makeRecognizer("en-GB"), nullptr);
    EXPECT_EQ(service.makeRecognizer("de-DE"), nullptr);
    EXPECT_EQ(service.makeRecognizer(""), nullptr);

    sys::SphinxSpeechRecognitionService empty("/nonexistent/models");
    EXPECT_EQ(empty.makeRecognizer("en-US"), nullptr);
}

TEST_F(SphinxSpeechRecognizer, recognizesTheRecordingWithPartialResultsAndWordRanges)
{
    requireModelAnd({recording});
    if (IsSkipped())
        return;

    auto recognizer = english();
    ASSERT_NE(recognizer, nullptr);
    auto samples = test::readSamples(recording);
    ASSERT_GT(samples.size(), 16000u);

    // The decoder loaded for the first request serves the second, which
    // brings the same audio as non-interleaved floats.
    for (auto format :
         {AudioFormat{16000, 1, SampleType::int16, true}, AudioFormat{16000, 1, SampleType::float32, false}}) {
        SCOPED_TRACE(format.description());
        auto outcome = recognize(runtime, *recognizer, samples, format);
        EXPECT_TRUE(outcome.errors.empty());
        ASSERT_GE(outcome.results.size(), 2u);
        for (std::size_t i = 0; i + 1 < outcome.results.size(); ++i)
            EXPECT_FALSE(outcome.results[i].isFinal);
        const auto& final = outcome.results.back();
        EXPECT_TRUE(final.isFinal);
        EXPECT_EQ(final.bestTranscription.formattedString, "go forward ten meters");
        EXPECT_EQ(final.bestTranscription.segments,
                  (std::vector<TranscriptionSegment>{
                      {"go", {0, 2}}, {"forward", {3, 7}}, {"ten", {11, 3}}, {"meters", {15, 6}}}));
    }
}

TEST(SphinxWrittenWords, writtenTextBeginsWithACapitalAndSpellsTheEnglishPronounI)
{
    using Words = std::vector<std::string>;
    EXPECT_EQ(sys::sphinxWrittenWords({"i", "would", "like", "ice", "if", "i'm", "in", "i'll", "go"}, true),
              (Words{"I", "would", "like", "ice", "if", "I'm", "in", "I'll", "go"}));
    EXPECT_EQ(sys::sphinxWrittenWords({"where", "is", "it"}, true), (Words{"Where", "is", "it"}));
    // Only English writes its pronoun so; other languages keep their words.
    EXPECT_EQ(sys::sphinxWrittenWords({"été", "i", "ou"}, false), (Words{"Été", "i", "ou"}));
    EXPECT_EQ(sys::sphinxWrittenWords({}, true), Words{});
}

// The far end arrives in 20 ms cycles; the live text changes a few times a
// second, not with every cycle, and its first words are not held back.
TEST_F(SphinxSpeechRecognizer, partialResultsComeAtMostTenTimesASecondOfAudio)
{
    requireModelAnd({recording});
    if (IsSkipped())
        return;

    const auto samples = test::readSamples(recording);
    const double seconds = static_cast<double>(samples.size()) / 16000.0;
    const AudioFormat format = int16Mono;
    auto outcome = recognize(runtime, *english(), samples, format, true, 320);
    ASSERT_TRUE(outcome.errors.empty());
    ASSERT_GE(outcome.results.size(), 2u);
    EXPECT_EQ(outcome.results.back().bestTranscription.formattedString, "Go forward ten meters");
    const auto partials = static_cast<double>(outcome.results.size() - 1);
    EXPECT_LE(partials, seconds / sys::SphinxSpeechRecognitionService::defaultPartialInterval + 1) << partials;

    // Asked for every buffer, the same audio gives many more.
    sys::SphinxSpeechRecognitionService everyBuffer(sys::defaultSphinxModelRoot, 0.0);
    auto eager = recognize(runtime, *everyBuffer.makeRecognizer("en-US"), samples, format, true, 320);
    EXPECT_GT(eager.results.size(), outcome.results.size());
    EXPECT_EQ(eager.results.back().bestTranscription.formattedString, "Go forward ten meters");
}

// A decoder adapts to the channel it hears as it goes. The first utterance
// it hears from a source is decoded with another channel's estimate; it is
// decoded again with what the decoder learnt from it, so the first words of
// a call or a press are not lost to the model's default. A long one is
// decoded again whole at its end, and gives what a decoder that knew the
// source from the start gives.
TEST_F(SphinxSpeechRecognizer, theFirstUtteranceFromASourceIsDecodedWithWhatTheDecoderLearntFromIt)
{
    requireModelAnd({longLibrivoxRecording});
    if (IsSkipped())
        return;

    const auto samples = test::readSamples(longLibrivoxRecording, waveHeaderBytes);
    const AudioFormat format = int16Mono;
    auto recognizer = english();
    // Decoded again from where the decoder learnt the source while the rest
    // still came, and not once more whole at its end: that kept a long first
    // reply waiting seconds after its release.
    auto first = recognize(runtime, *recognizer, samples, format, false, 320, "microphone");
    ASSERT_FALSE(first.results.empty());
    EXPECT_EQ(first.results.back().bestTranscription.formattedString, longLibrivoxHeardFirst);
    // The next utterance from the same source is decoded once, as is the
    // same audio from a decoder that has heard the source already.
    auto again = recognize(runtime, *recognizer, samples, format, false, 320, "microphone");
    ASSERT_FALSE(again.results.empty());
    EXPECT_EQ(again.results.back().bestTranscription.formattedString, longLibrivoxHeard);
    EXPECT_EQ(service.modelLoads(), 1u);
}

// A shorter first utterance is decoded again from where the decoder has
// learnt the source, while the rest of it still comes. Where that happens
// depends on the audio alone: the same recording gives the same words in
// buffers of any size, also on a decoder new to it each time.
TEST_F(SphinxSpeechRecognizer, aFirstUtteranceGivesTheSameWordsWhateverItsBuffers)
{
    requireModelAnd({librivoxRecording, recording});
    if (IsSkipped())
        return;

    for (const char* file : {recording, librivoxRecording}) {
        SCOPED_TRACE(file);
        const auto samples = test::readSamples(file, file == librivoxRecording ? waveHeaderBytes : 0);
        std::vector<std::string> heard;
        for (std::size_t chunk : {std::size_t{320}, std::size_t{1365}, samples.size()}) {
            sys::SphinxSpeechRecognitionService fresh;
            auto outcome =
                recognize(runtime, *fresh.makeRecognizer("en-US"), samples, int16Mono, false, chunk, "microphone");
            ASSERT_FALSE(outcome.results.empty());
            EXPECT_TRUE(outcome.errors.empty());
            heard.push_back(outcome.results.back().bestTranscription.formattedString);
        }
        EXPECT_EQ(heard[1], heard[0]);
        EXPECT_EQ(heard[2], heard[0]);
        if (file == recording)
            EXPECT_EQ(heard[0], "go forward ten meters");
    }
}

TEST_F(SphinxSpeechRecognizer, punctuationEndsASentenceWhereTheSpeakerPausedAndTheModelStaysLoaded)
{
    requireModelAnd({recording, secondRecording});
    if (IsSkipped())
        return;

    // Two utterances one second apart, as a speaker pauses between sentences.
    const auto samples = test::readWithPauseBetween(recording, secondRecording);
    const AudioFormat format = int16Mono;
    {
        auto recognizer = english();
        auto outcome = recognize(runtime, *recognizer, samples, format, true);
        ASSERT_TRUE(outcome.errors.empty());
        ASSERT_FALSE(outcome.results.empty());
        const auto& final = outcome.results.back().bestTranscription;
        EXPECT_EQ(final.formattedString, "Go forward ten meters. Go somewhere and do something");
        ASSERT_EQ(final.segments.size(), 9u);
        EXPECT_EQ(final.segments[3], (TranscriptionSegment{"meters", {15, 6}}));
        EXPECT_EQ(final.segments[4], (TranscriptionSegment{"Go", {23, 2}}));
        // The mark appears in the live text once the next sentence has begun.
        EXPECT_TRUE(std::any_of(outcome.results.begin(), outcome.results.end() - 1, [](const auto& result) {
            return result.bestTranscription.formattedString.starts_with("Go forward ten meters. G");
        }));
        for (const auto& result : outcome.results)
            EXPECT_FALSE(result.bestTranscription.formattedString.ends_with("."));
    }
    EXPECT_EQ(service.modelLoads(), 1u);

    // Every recognizer of the first press is gone; the next press finds the
    // model loaded. Without punctuation the words are only joined.
    auto recognizer = english();
    auto plain = recognize(runtime, *recognizer, samples, format, false);
    ASSERT_FALSE(plain.results.empty());
    EXPECT_EQ(plain.results.back().bestTranscription.formattedString,
              "go forward ten meters go somewhere and do something");
    // One utterance alone has no pause to mark, but still begins a sentence.
    auto single = recognize(runtime, *recognizer, test::readSamples(recording), format, true);
    ASSERT_FALSE(single.results.empty());
    EXPECT_EQ(single.results.back().bestTranscription.formattedString, "Go forward ten meters");
    EXPECT_EQ(single.results.back().bestTranscription.segments.front(), (TranscriptionSegment{"Go", {0, 2}}));
    EXPECT_EQ(service.modelLoads(), 1u);
}
