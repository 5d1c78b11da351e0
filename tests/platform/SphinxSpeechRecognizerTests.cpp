#include "platform/ProgramFolder.h"
#include "platform/linux/sphinx/SphinxChannelEstimate.h"
#include "platform/linux/sphinx/SphinxDecoderPool.h"
#include "platform/linux/sphinx/SphinxEnglishWords.h"
#include "platform/linux/sphinx/SphinxFollower.h"
#include "platform/linux/sphinx/SphinxFollowing.h"
#include "platform/linux/sphinx/SphinxInputLearning.h"
#include "platform/linux/sphinx/SphinxKeptOutWords.h"
#include "platform/linux/sphinx/SphinxSearchAhead.h"
#include "platform/linux/sphinx/SphinxSentenceEnds.h"
#include "platform/linux/sphinx/SphinxSpeechRecognizer.h"
#include "platform/linux/sphinx/SphinxWrittenWords.h"
#include "runtime/Log.h"
#include "runtime/ManualRuntime.h"
#include "support/DeepJson.h"
#include "support/Patience.h"
#include "support/PocketsphinxRecordings.h"
#include "support/ScratchMount.h"
#include "support/TempDirectory.h"

#include <nlohmann/json.hpp>
#include <sphinxbase/logmath.h>
#include <sphinxbase/ngram_model.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <sstream>
#include <thread>
#include <utility>

#include <sys/stat.h>

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
// Seven seconds of a reader who pauses between phrases.
constexpr const char* pausedLibrivoxRecording =
    "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0870.wav";

struct Outcome {
    std::vector<SpeechRecognitionResult> results;
    std::vector<DomainError> errors;
};

void append(SpeechAudioBufferRecognitionRequest& request, const std::vector<std::int16_t>& samples,
            const AudioFormat& format, std::size_t chunk = 1600)
{
    for (std::size_t at = 0; at < samples.size(); at += chunk) {
        std::size_t frames = std::min(chunk, samples.size() - at);
        PcmBuffer buffer(format, frames);
        buffer.setFrameLength(frames);
        for (std::size_t f = 0; f < frames; ++f)
            buffer.setFloatSample(f, 0, int16ToFloat(samples[at + f]));
        request.append(buffer);
    }
}

// Feeds the recording in 0.1 s buffers of the given format, ends the audio
// (after `beforeEnd`, which may bring more) and drives the main executor
// until the task has answered for the last time. The decoder runs on its
// own thread, so this waits for it in real time; a watchdog ends the wait
// should the answer never come.
Outcome recognize(rt::ManualRuntime& runtime, SpeechRecognizer& recognizer, const std::vector<std::int16_t>& samples,
                  const AudioFormat& format, bool punctuate = false, std::size_t chunk = 1600,
                  const std::string& source = {},
                  const std::function<void(SpeechAudioBufferRecognitionRequest&)>& beforeEnd = {})
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
    append(*request, samples, format, chunk);
    if (beforeEnd)
        beforeEnd(*request);
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

    sys::SphinxModel usEnglish() const
    {
        for (const auto& model : sys::installedSphinxModels())
            if (model.locale == "en-US")
                return model;
        return {};
    }

    // A decoder of its own, freed with the test.
    ps_decoder_t* loadedDecoder() { return loaded.emplace_back(sys::loadSphinxDecoder(usEnglish()), &ps_free).get(); }

    // The decoder's last hypothesis.
    static std::string wordsOf(ps_decoder_t* decoder)
    {
        std::int32_t score = 0;
        const char* words = ps_get_hyp(decoder, &score);
        return words ? words : "";
    }

    rt::ManualRuntime runtime;
    sys::SphinxSpeechRecognitionService service;
    const AudioFormat int16Mono{16000, 1, SampleType::int16, true};
    std::vector<std::unique_ptr<ps_decoder_t, int (*)(ps_decoder_t*)>> loaded;
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

    // Audio handed over, and ended, before the task starts is decoded all
    // the same, in its order.
    auto early = recognizer->makeRequest();
    append(*early, samples, int16Mono);
    early->endAudio();
    std::optional<SpeechRecognitionResult> last;
    auto task = recognizer->recognitionTask(early, [&](const auto& result, const auto&) {
        last = result;
        if (!result || result->isFinal)
            runtime.executor().stop();
    });
    EXPECT_TRUE(task->isFinishing());
    test::runUntilStopped(runtime);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->bestTranscription.formattedString, "go forward ten meters");
}

TEST(SphinxWrittenWords, writtenTextBeginsWithACapitalAndSpellsTheEnglishPronounI)
{
    using Words = std::vector<std::string>;
    EXPECT_EQ(sys::sphinxWrittenWords({"i", "would", "like", "ice", "if", "i'm", "in", "i'll", "go"}, true),
              (Words{"I", "would", "like", "ice", "if", "I'm", "in", "I'll", "go"}));
    EXPECT_EQ(sys::sphinxWrittenWords({"where", "is", "it"}, true), (Words{"Where", "is", "it"}));
    // Days and months are names, so that they are translated; "may" is the
    // verb far more often.
    EXPECT_EQ(
        sys::sphinxWrittenWords({"see", "you", "monday", "or", "on", "fridays", "in", "march", "may", "be"}, true),
        (Words{"See", "you", "Monday", "or", "on", "Fridays", "in", "March", "may", "be"}));
    // Names of people and places are names; words that are also ordinary
    // words are not ("Snyder" misheard as a country stays a name).
    EXPECT_EQ(sys::sphinxWrittenWords({"mr", "jackson", "of", "chicago's", "bank", "will", "bill", "nicholas", "on",
                                       "the", "mark", "of", "niger"},
                                      true),
              (Words{"Mr", "Jackson", "of", "Chicago's", "bank", "will", "bill", "Nicholas", "on", "the", "mark", "of",
                     "Niger"}));
    // Only English writes its pronoun so; other languages keep their words.
    EXPECT_EQ(sys::sphinxWrittenWords({"été", "i", "ou"}, false), (Words{"Été", "i", "ou"}));
    EXPECT_EQ(sys::sphinxWrittenWords({}, true), Words{});
}

// A mishearing must not put a slur or an obscene word in the speaker's
// mouth: such words are out of what the decoder can write, in every mode,
// while the installed dictionary stays as it is.
TEST_F(SphinxSpeechRecognizer, theSearchCannotWriteASlurOrObsceneWordButKeepsWordsWithAHarmlessMeaning)
{
    requireModelAnd({});
    if (IsSkipped())
        return;
    auto* decoder = loadedDecoder();
    ASSERT_NE(decoder, nullptr);
    // Every form of a word out is out ("redskins'" sounds as "redskins"),
    // and so are the dated racial words and the insults.
    for (const char* word :
         {"nigger",    "niggers",  "faggot",   "fuck",     "fucking", "cunt",     "retard", "whore",
          "redskins'", "negro",    "negroes",  "negroid",  "coon",    "coons",    "chinks", "hymie",
          "asshole",   "assholes", "shithead", "dickhead", "bastard", "bastards", "shit",   "bullshit"}) {
        EXPECT_TRUE(sys::sphinxKeptOut(word)) << word;
        EXPECT_EQ(ps_lookup_word(decoder, word), nullptr) << word;
    }
    for (const char* word :
         {"chink", "cock", "dick", "bitch", "prick", "jackass", "spices", "hello", "elevator", "retardant"}) {
        EXPECT_FALSE(sys::sphinxKeptOut(word)) << word;
        char* phones = ps_lookup_word(decoder, word);
        EXPECT_NE(phones, nullptr) << word;
        ckd_free(phones);
    }
    // Every pronunciation of a word goes; its neighbours stay whole.
    EXPECT_EQ(sys::sphinxDictionaryWithoutKeptOut("fuck F AH K\nfucked F AH K T\nfuck(2) F UH K\nfudge F AH JH\nwhore"),
              "fudge F AH JH\n");
    std::ifstream installed(usEnglish().dictionary);
    const std::string text((std::istreambuf_iterator<char>(installed)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("\nnigger "), std::string::npos);

    // No word of the language model the decoders load that is a plural or
    // possessive of a listed word can be written either.
    logmath_t* logmath = logmath_init(1.0001, 0, 0);
    ngram_model_t* model = ngram_model_read(nullptr, usEnglish().languageModel.c_str(), NGRAM_AUTO, logmath);
    ASSERT_NE(model, nullptr);
    const auto& listed = sys::SphinxEnglishWords::shared().keptOut;
    const auto formOf = [](std::string_view word, const std::string& stem) {
        if (!word.starts_with(stem))
            return stem.ends_with('y') && word == stem.substr(0, stem.size() - 1) + "ies";
        const std::string_view rest = word.substr(stem.size());
        const bool hisses =
            stem.find_last_of("osxz") == stem.size() - 1 || stem.ends_with("ch") || stem.ends_with("sh");
        return rest.empty() || rest == "s" || rest == "'s" || rest == "s'" || rest == "'" || (hisses && rest == "es");
    };
    std::size_t forms = 0;
    const std::int32_t words = ngram_model_get_counts(model)[0];
    for (std::int32_t id = 0; id < words; ++id) {
        const std::string_view word = ngram_word(model, id);
        if (std::none_of(listed.begin(), listed.end(), [&](const auto& stem) { return formOf(word, stem); }))
            continue;
        ++forms;
        char* phones = ps_lookup_word(decoder, std::string(word).c_str());
        EXPECT_EQ(phones, nullptr) << word;
        ckd_free(phones);
    }
    EXPECT_GT(forms, listed.size());
    ngram_model_free(model);
    logmath_free(logmath);
}

TEST(SphinxSearchAhead, searchesOnceTheSpeakerIsQuietAndStandsUntilVoiceComesAgain)
{
    // 10 samples of quiet make a quiet; 100 is voice.
    sys::SphinxSearchAhead ahead(10, 100);
    const std::vector<std::int16_t> silence(12, 99), voice{0, -100, 3}, loudest{std::int16_t{-32768}};
    const std::vector<std::int16_t> shortQuiet(6, 0);
    struct Step {
        const std::vector<std::int16_t>& samples;
        bool searchNow;  // then searched at once when due
        bool stands;
    };
    const Step steps[] = {
        // No search before the first voice, however long the quiet.
        {silence, false, false},
        {voice, false, false},
        // The quiet counts across buffers.
        {shortQuiet, false, false},
        {shortQuiet, true, true},
        // A silence that goes on is not searched again.
        {silence, false, true},
        // The speaker goes on: what was searched is thrown away; a short
        // quiet in the middle of the words searches nothing.
        {loudest, false, false},
        {shortQuiet, false, false},
        {voice, false, false},
        {silence, true, true},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(ahead.heard(steps[i].samples), steps[i].searchNow);
        if (steps[i].searchNow)
            ahead.searched();
        EXPECT_EQ(ahead.stands(), steps[i].stands);
    }
    // A search that could not run yet (the decoder was behind) is due with
    // the next buffer.
    sys::SphinxSearchAhead behind(10, 100);
    EXPECT_FALSE(behind.heard(voice));
    EXPECT_TRUE(behind.heard(silence));
    EXPECT_TRUE(behind.heard(shortQuiet));
    EXPECT_FALSE(behind.stands());
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

// A decoder adapts to the channel it hears as it goes, and starts a source
// it has not heard in this run from what an earlier run learnt about that
// input. Without such a start (no earlier run, another microphone, a file
// that cannot be trusted) or when the input sounds otherwise now, the first
// utterance is decoded again whole with what it taught before its final
// text, which then reads as a later utterance's would.
TEST_F(SphinxSpeechRecognizer, theFirstUtteranceOfAnInputIsHeardAsLaterOnesAreAndWhatItTaughtIsKeptForTheNextRun)
{
    requireModelAnd({longLibrivoxRecording});
    if (IsSkipped())
        return;

    const auto samples = test::readSamples(longLibrivoxRecording, waveHeaderBytes);
    test::TempDirectory state;
    const auto file = state / "parlaro" / "recognition-channels.json";
    // One run: its own service with the file; what it heard as final, and
    // how many first utterances it decoded again.
    const auto run = [&](std::initializer_list<const char*> inputs) {
        sys::SphinxSpeechRecognitionService service(sys::defaultSphinxModelRoot,
                                                    sys::SphinxSpeechRecognitionService::defaultPartialInterval, file);
        std::vector<std::string> heard;
        for (const char* input : inputs) {
            auto outcome = recognize(runtime, *service.makeRecognizer("en-US"), samples, int16Mono, false, 320, input);
            heard.push_back(outcome.results.empty() ? "" : outcome.results.back().bestTranscription.formattedString);
        }
        return std::pair{heard, service.utterancesDecodedAgain()};
    };

    // Never heard: the first utterance waits for its second decoding, the
    // next one from the same input does not.
    EXPECT_EQ(run({"microphone:a", "microphone:a"}), (std::pair{std::vector<std::string>(2, longLibrivoxHeard), 1ul}));
    const auto kept = nlohmann::json::parse(state.read("parlaro/recognition-channels.json"));
    ASSERT_EQ(kept["inputs"].size(), 1u);
    EXPECT_EQ(kept["inputs"][0]["input"], "microphone:a");
    EXPECT_EQ(kept["inputs"][0]["mean"].size(), 13u);
    EXPECT_EQ(kept["inputs"][0]["sound"].size(), 13u);

    // The next run hears that microphone at once, and another one that
    // sounds the same from the estimate the decoder has (nothing moves, so
    // nothing is searched again); both are kept.
    EXPECT_EQ(run({"microphone:a", "microphone:b"}), (std::pair{std::vector<std::string>(2, longLibrivoxHeard), 0ul}));
    EXPECT_EQ(nlohmann::json::parse(state.read("parlaro/recognition-channels.json"))["inputs"].size(), 2u);

    // After a short first reply the next is heard as well as later ones: it
    // starts from what the first taught and is searched again where the
    // estimate moved, by decoders that followed it from the speech of both,
    // so that neither waits for a decoding again at its end.
    {
        test::TempDirectory elsewhere;
        sys::SphinxSpeechRecognitionService service(sys::defaultSphinxModelRoot,
                                                    sys::SphinxSpeechRecognitionService::defaultPartialInterval,
                                                    elsewhere / "recognition-channels.json");
        auto recognizer = service.makeRecognizer("en-US");
        const std::vector<std::int16_t> phrase(samples.begin(), samples.begin() + 32000);
        recognize(runtime, *recognizer, phrase, int16Mono, false, 320, "microphone:c");
        auto reply = recognize(runtime, *recognizer, samples, int16Mono, false, 320, "microphone:c");
        ASSERT_FALSE(reply.results.empty());
        // Their reading may end a word apart from a later one's (each gets
        // four of the nineteen words wrong).
        const auto& text = reply.results.back().bestTranscription.formattedString;
        EXPECT_TRUE(text.starts_with("had he married a more amiable w")) << text;
        EXPECT_NE(text.find(" he might have been made still more respectable "), std::string::npos) << text;
        EXPECT_EQ(service.utterancesDecodedAgain(), 2u);
        EXPECT_EQ(service.utterancesDecodedAgainAtTheirEnd(), 0u);
    }

    // A phrase too short to judge the microphone by (a quarter of a second)
    // leaves what was kept standing for the reply that follows.
    {
        sys::SphinxSpeechRecognitionService service(sys::defaultSphinxModelRoot,
                                                    sys::SphinxSpeechRecognitionService::defaultPartialInterval, file);
        auto recognizer = service.makeRecognizer("en-US");
        const std::vector<std::int16_t> phrase(samples.begin() + 16000, samples.begin() + 20000);
        recognize(runtime, *recognizer, phrase, int16Mono, false, 320, "microphone:a");
        auto reply = recognize(runtime, *recognizer, samples, int16Mono, false, 320, "microphone:a");
        ASSERT_FALSE(reply.results.empty());
        EXPECT_EQ(reply.results.back().bestTranscription.formattedString, longLibrivoxHeard);
        EXPECT_EQ(service.utterancesDecodedAgain(), 0u);
    }

    // What makes the microphone sound otherwise is its level (and the
    // shape of its speech), not the share of pauses in the replies it was
    // kept from, which moves the mean's first number more than 6 dB do: a
    // microphone 6 dB softer than kept is decoded again, the same one kept
    // from replies with other pauses is not.
    auto softer = kept;
    softer["inputs"][0]["sound"][0] = kept["inputs"][0]["sound"][0].get<double>() + 7;
    auto otherPauses = kept;
    otherPauses["inputs"][0]["mean"][0] = kept["inputs"][0]["mean"][0].get<double>() + 11;
    for (const auto& [contents, again] : {std::pair{softer.dump(), 1ul}, std::pair{otherPauses.dump(), 0ul}}) {
        SCOPED_TRACE(contents.substr(0, 80));
        state.write("parlaro/recognition-channels.json", contents);
        EXPECT_EQ(run({"microphone:a"}).second, again);
    }

    // A microphone that now sounds 15 dB softer than it did, and
    // files that are damaged, foreign, or hold what no decoder learns: not
    // trusted, each costs the second decoding and is written anew.
    auto louder = kept;
    for (const char* key : {"mean", "sound"})
        louder["inputs"][0][key][0] = kept["inputs"][0][key][0].get<double>() + 18;
    auto shortMean = kept;
    shortMean["inputs"][0]["mean"].erase(0);
    auto huge = kept;
    huge["inputs"][0]["mean"][3] = 1e30;
    auto absurd = kept;
    for (auto& value : absurd["inputs"][0]["mean"])
        value = 999;
    auto otherFormat = kept;
    otherFormat["format"] = 2;
    for (const std::string& contents : {louder.dump(), shortMean.dump(), huge.dump(), absurd.dump(), otherFormat.dump(),
                                        std::string("{\"format\":1,\"inputs\":"), test::nestedArrays(100000),
                                        kept.dump() + std::string(70 * 1024, ' ')}) {
        SCOPED_TRACE(contents.substr(0, 80));
        state.write("parlaro/recognition-channels.json", contents);
        EXPECT_EQ(run({"microphone:a"}), (std::pair{std::vector<std::string>{longLibrivoxHeard}, 1ul}));
        const auto written = nlohmann::json::parse(state.read("parlaro/recognition-channels.json"));
        EXPECT_EQ(written["inputs"].back()["input"], "microphone:a");
        // What is kept now is near how the microphone sounds, not how it was said to.
        EXPECT_NEAR(written["inputs"].back()["mean"][0].get<double>(), kept["inputs"][0]["mean"][0].get<double>(), 3.0);
    }
}

// The same reply held again is heard as it was the first time, its first
// words included, on every later press: the decoder goes on from where the
// first press's reading was decoded, not from the mean of every frame it
// heard (near the mean of the speech, where the reader's "Mr John
// Dashwood had" is heard as "but Mr John guess would have").
TEST_F(SphinxSpeechRecognizer, aReplyHeldAgainIsHeardAsTheFirstPressHeardIt)
{
    requireModelAnd({pausedLibrivoxRecording, recording});
    if (IsSkipped())
        return;
    struct Case {
        const char* file;
        std::streamoff header;
        std::size_t firstWords;
    };
    for (const auto& c : {Case{pausedLibrivoxRecording, waveHeaderBytes, 5}, Case{recording, 0, 4}}) {
        SCOPED_TRACE(c.file);
        const auto samples = test::readSamples(c.file, c.header);
        sys::SphinxSpeechRecognitionService fresh;
        auto recognizer = fresh.makeRecognizer("en-US");
        std::vector<std::string> heard;
        for (int press = 0; press < 3; ++press) {
            auto outcome = recognize(runtime, *recognizer, samples, int16Mono, false, 1600, "microphone");
            ASSERT_FALSE(outcome.results.empty());
            heard.push_back(outcome.results.back().bestTranscription.formattedString);
        }
        const auto opening = [&](const std::string& text) {
            std::istringstream words(text);
            std::vector<std::string> first;
            for (std::string word; first.size() < c.firstWords && words >> word;)
                first.push_back(word);
            return first;
        };
        for (std::size_t press = 1; press < heard.size(); ++press)
            EXPECT_EQ(opening(heard[press]), opening(heard[0])) << heard[0] << " | " << heard[press];
    }
}

// A state folder that refuses the file: this run keeps what it learnt, the
// failure is said once, and the file is written once the folder takes it.
TEST(SphinxChannelFileWrite, AFolderThatRefusesTheFileIsToldOnceAndLosesNothing)
{
    test::TempDirectory state;
    test::ReadOnlyFolder readOnly(state.path());
    const auto file = state / "recognition-channels.json";
    const sys::ChannelMean first{std::vector<float>(13, 1.0f), 300};
    auto moved = first;
    moved.mean[0] += 1;
    rt::LogCapture log;
    {
        sys::SphinxChannelFile channels(file);
        readOnly.setReadOnly(true);
        channels.keep("en-US", "microphone:a", first);
        channels.keep("en-US", "microphone:a", moved);
        EXPECT_EQ(channels.find("en-US", "microphone:a", 13), moved);
        readOnly.setReadOnly(false);
    }
    ASSERT_EQ(log.messages().size(), 1u);
    EXPECT_TRUE(log.messages()[0].starts_with("what speech recognition learnt about each input cannot be kept in "))
        << log.messages()[0];
    EXPECT_EQ(sys::SphinxChannelFile(file).find("en-US", "microphone:a", 13), moved);
}

// A file of any other shape reads as empty, never ending the program on the
// decoding thread, and the next keep writes it over.
TEST(SphinxChannelFileRead, AFileOfAnyOtherShapeReadsAsEmptyAndIsWrittenOver)
{
    test::TempDirectory state;
    const auto file = state / "recognition-channels.json";
    const sys::ChannelMean mean{std::vector<float>(13, 1.0f), 300};
    for (const char* contents : {"{\"format\":\"1\"}", "{\"format\":null,\"inputs\":[]}", "null", "[1]", "{}", "",
                                 "{\"format\":1,\"inputs\":{\"model\":1}}"}) {
        SCOPED_TRACE(contents);
        state.write("recognition-channels.json", contents);
        {
            sys::SphinxChannelFile channels(file);
            EXPECT_EQ(channels.find("en-US", "microphone:a", 13), std::nullopt);
            channels.keep("en-US", "microphone:a", mean);
        }
        EXPECT_EQ(sys::SphinxChannelFile(file).find("en-US", "microphone:a", 13), mean);
    }

    // A cache that cannot be read is kept and named to the user once, as
    // the file is opened: damaged contents go aside and the cache starts
    // anew; a folder or a FIFO stays as it is and is never written over.
    namespace fs = std::filesystem;
    struct Unreadable {
        std::function<void(const fs::path&)> make;
        std::string reason;
        bool setAside;
    };
    const auto contents = [](std::string text) {
        return [text](const fs::path& at) { std::ofstream(at, std::ios::binary) << text; };
    };
    for (const Unreadable& unreadable :
         {Unreadable{contents("{\"format\":1,\"inputs\":[{\"model\""), "it is not valid JSON", true},
          Unreadable{contents("{\"format\":1,\"inputs\":[{\"model\":\"en\xC3\"}]}"), "it is not valid JSON", true},
          Unreadable{contents(std::string(sys::SphinxChannelFile::sizeLimit + 1, ' ')), "it is larger than 64 KiB",
                     true},
          Unreadable{[](const fs::path& at) { fs::create_directory(at); }, "it is a folder", false},
          Unreadable{[](const fs::path& at) { ASSERT_EQ(::mkfifo(at.c_str(), 0600), 0); }, "it is not a regular file",
                     false}}) {
        SCOPED_TRACE(unreadable.reason);
        test::TempDirectory fresh;
        const auto at = fresh / "recognition-channels.json";
        unreadable.make(at);
        takeEarlierEntryNotes();
        {
            sys::SphinxChannelFile channels(at);
            EXPECT_EQ(takeEarlierEntryNotes(),
                      (std::vector<EarlierEntryNote>{
                          {EarlierEntryNote::Kind::cacheUnreadable,
                           at,
                           unreadable.setAside ? fresh / "recognition-channels.json.damaged" : fs::path(),
                           {},
                           unreadable.reason}}));
            channels.keep("en-US", "microphone:a", mean);
        }
        EXPECT_EQ(fs::is_regular_file(fresh / "recognition-channels.json.damaged"), unreadable.setAside);
        if (unreadable.setAside)
            EXPECT_EQ(sys::SphinxChannelFile(at).find("en-US", "microphone:a", 13), mean);
        else
            EXPECT_FALSE(fs::is_regular_file(at)) << "left as it was";
        EXPECT_TRUE(takeEarlierEntryNotes().empty());
    }
    {
        // A link in its place: what it leads to is not read, and the link is
        // written over, not through.
        test::TempDirectory fresh;
        sys::SphinxChannelFile(fresh / "planted.json").keep("en-US", "microphone:a", mean);
        const std::string planted = fresh.read("planted.json");
        fs::create_symlink(fresh / "planted.json", fresh / "recognition-channels.json");
        sys::SphinxChannelFile channels(fresh / "recognition-channels.json");
        EXPECT_EQ(channels.find("en-US", "microphone:a", 13), std::nullopt);
        EXPECT_TRUE(takeEarlierEntryNotes().empty());
        channels.keep("en-US", "microphone:b", mean);
        EXPECT_FALSE(fs::is_symlink(fs::symlink_status(fresh / "recognition-channels.json")));
        EXPECT_EQ(fresh.read("planted.json"), planted);
    }

    // What killed writes left goes at the next start; a write that may be
    // under way, and a file that is not ours, stay.
    const auto now = fs::file_time_type::clock::now();
    for (const auto& [name, age] : {std::pair{".recognition-channels.json.tmp-Ab12Cd", std::chrono::hours(1)},
                                    {".recognition-channels.json.tmp-fresh1", std::chrono::hours(0)},
                                    {".notes.json.tmp-Ab12Cd", std::chrono::hours(1)}}) {
        state.write(name, "{}");
        fs::last_write_time(state / name, now - age);
    }
    sys::SphinxChannelFile started(file);
    EXPECT_FALSE(fs::exists(state / ".recognition-channels.json.tmp-Ab12Cd"));
    EXPECT_TRUE(fs::exists(state / ".recognition-channels.json.tmp-fresh1"));
    EXPECT_TRUE(fs::exists(state / ".notes.json.tmp-Ab12Cd"));
}

// The first utterance of a source never heard is decoded again at what its
// speech says of the channel while it is still spoken, so that only the
// last search waits for its end. Where that happens depends on the audio
// alone: the same recording gives the same words in buffers of any size,
// also on a decoder new to it each time.
TEST_F(SphinxSpeechRecognizer, aFirstUtteranceGivesTheSameWordsWhateverItsBuffers)
{
    requireModelAnd({librivoxRecording, recording, pausedLibrivoxRecording});
    if (IsSkipped())
        return;

    for (const char* file : {recording, librivoxRecording, pausedLibrivoxRecording}) {
        SCOPED_TRACE(file);
        const auto samples = test::readSamples(file, file == recording ? 0 : waveHeaderBytes);
        std::vector<std::string> heard;
        for (std::size_t chunk : {std::size_t{320}, std::size_t{1365}, samples.size()}) {
            sys::SphinxSpeechRecognitionService fresh;
            auto outcome =
                recognize(runtime, *fresh.makeRecognizer("en-US"), samples, int16Mono, false, chunk, "microphone");
            ASSERT_FALSE(outcome.results.empty());
            EXPECT_TRUE(outcome.errors.empty());
            heard.push_back(outcome.results.back().bestTranscription.formattedString);
            // Searched again as it was heard: nothing but the last search
            // waits for the end of the audio.
            EXPECT_EQ(fresh.utterancesDecodedAgainAtTheirEnd(), 0u);
        }
        if (file == recording)
            EXPECT_EQ(heard[0], "go forward ten meters");
        // New to a reader who pauses, the decoder still hears the name. A
        // reply this long is searched again while it is spoken, by decoders
        // that hear it buffer by buffer as it comes: their search may end a
        // word apart.
        if (file == pausedLibrivoxRecording) {
            for (const auto& text : heard)
                EXPECT_NE(text.find("mr john dashwood had been leisure to consider how much there might be"),
                          std::string::npos)
                    << text;
            continue;
        }
        EXPECT_EQ(heard[1], heard[0]);
        EXPECT_EQ(heard[2], heard[0]);
    }
}

TEST_F(SphinxSpeechRecognizer, punctuationEndsASentenceWhereTheSpeakerPausedAndTheModelStaysLoaded)
{
    requireModelAnd({recording, secondRecording});
    if (IsSkipped())
        return;

    // Two utterances one second apart: an ordinary pause, which people make
    // inside a sentence as often as between two. The words on both sides
    // read as one sentence here, so none ends at it.
    const auto samples = test::readWithPauseBetween(recording, secondRecording);
    const AudioFormat format = int16Mono;
    {
        auto recognizer = english();
        auto outcome = recognize(runtime, *recognizer, samples, format, true);
        ASSERT_TRUE(outcome.errors.empty());
        ASSERT_FALSE(outcome.results.empty());
        const auto& final = outcome.results.back().bestTranscription;
        EXPECT_EQ(final.formattedString, "Go forward ten meters go somewhere and do something");
        ASSERT_EQ(final.segments.size(), 9u);
        EXPECT_EQ(final.segments[3], (TranscriptionSegment{"meters", {15, 6}}));
        EXPECT_EQ(final.segments[4], (TranscriptionSegment{"go", {22, 2}}));
        for (const auto& result : outcome.results)
            EXPECT_EQ(result.bestTranscription.formattedString.find('.'), std::string::npos);
    }
    // The press's decoder, and those that followed its first utterance.
    const auto loads = service.modelLoads();
    EXPECT_LE(loads, 3u);

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
    EXPECT_EQ(service.modelLoads(), loads);
}

// People pause after "I think" or "send me" as often as between sentences;
// the words on both sides of the pause tell which it was, and the text
// after a pause inside a sentence goes on in lower case.
TEST_F(SphinxSpeechRecognizer, aPauseEndsASentenceOnlyWhereTheWordsAroundItReadAsTwo)
{
    requireModelAnd({});
    if (IsSkipped())
        return;
    auto recognizer = english();
    EXPECT_EQ(recognizer->continuation("I think", "The price is too high", 0.9), "the price is too high");
    EXPECT_EQ(recognizer->continuation("Could you send me", "The invoice", 1.0), "the invoice");
    EXPECT_EQ(recognizer->continuation("Hello. I wanted to ask", "Whether the invoice arrived", 0.8),
              "whether the invoice arrived");
    EXPECT_EQ(recognizer->continuation("I think", "I'm right", 0.8), "I'm right");
    EXPECT_EQ(recognizer->continuation("Thank you very much", "We will call you", 0.6), std::nullopt);
    EXPECT_EQ(recognizer->continuation("Thank you very much", "I will call you", 0.8), std::nullopt);
    EXPECT_EQ(recognizer->continuation("Could you send me", "The report", 0.9), "the report");
    EXPECT_EQ(recognizer->continuation("The room is small", "But it is quiet", 1.2), "but it is quiet");
    EXPECT_EQ(recognizer->continuation("The office is closed", "Please call tomorrow", 0.9), std::nullopt);
    EXPECT_EQ(recognizer->continuation("We meet on", "Monday morning", 0.9), "Monday morning");
    // An opening clause waits for its main clause; a whole short reply
    // ends unless the words after it carry it on.
    EXPECT_EQ(recognizer->continuation("If you have time", "We can talk about the plan", 0.7),
              "we can talk about the plan");
    EXPECT_EQ(recognizer->continuation("When you arrive", "Please call me", 0.9), "please call me");
    EXPECT_EQ(recognizer->continuation("If you have time we can talk about the plan", "After lunch", 0.8),
              "after lunch");
    EXPECT_EQ(recognizer->continuation("Yes of course", "We can do that", 0.7), std::nullopt);
    EXPECT_EQ(recognizer->continuation("Thank you", "For calling", 0.8), "for calling");
    EXPECT_EQ(recognizer->continuation("The room is small", "But it is quiet", 2.0), "but it is quiet");
    // A sentence closes with a question mark where it asks.
    EXPECT_EQ(recognizer->closingMark("Is this the right number"), "?");
    EXPECT_EQ(recognizer->closingMark("Hello. Where is the station"), "?");
    EXPECT_EQ(recognizer->closingMark("Could you send me the invoice"), "?");
    EXPECT_EQ(recognizer->closingMark("Is Friday possible"), "?");
    EXPECT_EQ(recognizer->closingMark("When you arrive we can talk"), ".");
    EXPECT_EQ(recognizer->closingMark("Is it. I think so"), ".");
    EXPECT_EQ(recognizer->continuation("Could you call me back", "In about ten minutes. I am driving", 0.8),
              "in about ten minutes? I am driving");
    // The pause's weight rises evenly, without a step, from an ordinary pause on.
    EXPECT_NEAR(sys::SphinxSentenceEnds::pauseEvidence(1.51), sys::SphinxSentenceEnds::pauseEvidence(1.5), 0.05);
    EXPECT_NEAR(sys::SphinxSentenceEnds::pauseEvidence(2.0),
                (sys::SphinxSentenceEnds::pauseEvidence(1.5) + sys::SphinxSentenceEnds::pauseEvidence(2.5)) / 2, 0.01);
    // An ordinary pause tips only words that read either way; against
    // words that carry the sentence on, only a quiet longer than people
    // keep inside a sentence counts for a break.
    EXPECT_EQ(recognizer->continuation("All right", "Let us go", 0.2), "let us go");
    EXPECT_EQ(recognizer->continuation("All right", "Let us go", 1.4), "let us go");
    EXPECT_EQ(recognizer->continuation("All right", "Let us go", 2.5), std::nullopt);
    // A word the model does not know leaves it open: the sentence goes on
    // over an ordinary pause.
    EXPECT_EQ(recognizer->continuation("I think", "Zzyzxq", 0.8), "zzyzxq");
    EXPECT_EQ(recognizer->continuation("I think", "Zzyzxq", 2.5), std::nullopt);
    EXPECT_EQ(recognizer->continuation("", "the price", 0.8), std::nullopt);

    // The same inside one request, as spoken: the stop stands only where
    // a sentence ended. (This voice is the one the model hears best.)
    struct Spoken {
        const char* markup;
        const char* heard;
        std::ptrdiff_t stops;
    };
    const Spoken spoken[] = {
        {"I think <break time='900ms'/> the price is too high for a small company.", "price is too high", 0},
        {"Could you send me <break time='800ms'/> the invoice from last week?", "send me the invoice", 0},
        {"Thank you very much. <break time='800ms'/> We will call you tomorrow.", "very much. We will", 1}};
    for (const auto& [markup, heard, stops] : spoken) {
        const auto samples = test::espoken("en-us+f2", markup);
        if (!samples)
            GTEST_SKIP() << "espeak-ng is not installed";
        auto outcome = recognize(runtime, *recognizer, *samples, int16Mono, true);
        ASSERT_FALSE(outcome.results.empty());
        const auto& text = outcome.results.back().bestTranscription.formattedString;
        EXPECT_NE(text.find(heard), std::string::npos) << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '.'), stops) << text;
        // A live text ends a sentence only once two of its revisions read
        // the same two words after the pause as a new one: at first they
        // are often misheard, and a sentence sent cannot be taken back.
        std::vector<std::string> live;
        for (const auto& result : outcome.results)
            if (!result.isFinal)
                live.push_back(result.bestTranscription.formattedString);
        const auto twoAfter = std::find_if(live.begin(), live.end(), [](const std::string& text) {
            return std::count(text.begin(), text.end(), ' ') >= 5;
        });
        if (stops > 0 && twoAfter != live.end()) {
            EXPECT_EQ(twoAfter->find('.'), std::string::npos) << *twoAfter;
            EXPECT_TRUE(std::any_of(twoAfter, live.end(),
                                    [](const std::string& text) { return text.find('.') != std::string::npos; }));
        }
    }
}

// A press's final text is searched once the speaker goes quiet, before the
// key goes up; it is the text the end of the audio would give, and it is
// thrown away when the speaker goes on after the quiet.
TEST_F(SphinxSpeechRecognizer, theSearchOnceTheSpeakerIsQuietGivesTheFinalTextUnlessTheSpeakerGoesOn)
{
    requireModelAnd({recording, secondRecording});
    if (IsSkipped())
        return;

    auto recognizer = english();
    const auto samples = test::readSamples(recording);
    auto pauseAndMore = test::readWithPauseBetween(recording, secondRecording);
    pauseAndMore.erase(pauseAndMore.begin(), pauseAndMore.begin() + static_cast<std::ptrdiff_t>(samples.size()));
    using Before = std::function<void(SpeechAudioBufferRecognitionRequest&)>;
    const auto finalOf = [&](const Before& beforeEnd = {}) {
        auto outcome = recognize(runtime, *recognizer, samples, int16Mono, true, 1600, "microphone", beforeEnd);
        EXPECT_TRUE(outcome.errors.empty());
        return outcome.results.empty() ? Transcription{} : outcome.results.back().bestTranscription;
    };
    // The key goes up once the decoder has searched the quiet at the end.
    const auto waitForSearch = [&] {
        const auto before = service.searchesAhead();
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (service.searchesAhead() == before && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_GT(service.searchesAhead(), before);
    };
    // The first utterance of an input is searched again at its end anyway;
    // audio handed over at once is searched at its end.
    finalOf();
    const auto searchedAtEnd = finalOf();
    const auto bothAtEnd = finalOf([&](auto& request) { append(request, pauseAndMore, int16Mono); });
    EXPECT_EQ(searchedAtEnd.formattedString, "Go forward ten meters");
    const auto kept = service.finalTextsSearchedAhead();

    const auto searchedAhead = finalOf([&](auto&) { waitForSearch(); });
    EXPECT_EQ(service.finalTextsSearchedAhead(), kept + 1);
    EXPECT_EQ(searchedAhead.formattedString, searchedAtEnd.formattedString);
    EXPECT_EQ(searchedAhead.segments, searchedAtEnd.segments);

    // Searched at the pause, the first sentence is not the final text: the
    // second follows it.
    const auto goneOn = finalOf([&](auto& request) {
        waitForSearch();
        append(request, pauseAndMore, int16Mono);
    });
    EXPECT_EQ(goneOn.formattedString, bothAtEnd.formattedString);
    EXPECT_NE(goneOn.formattedString.find("go somewhere and do something"), std::string::npos)
        << goneOn.formattedString;
    EXPECT_EQ(service.finalTextsSearchedAhead(), kept + 1);

    // Past the frames the decoder's earlier utterances reached, pocketsphinx
    // would read outside its tables to build the lattice before the end: a
    // longer utterance than any before is searched at its end only, and a
    // shorter one after it is searched ahead again.
    const auto repeated = [&](int times) {
        std::vector<std::int16_t> longer;
        for (int repeat = 0; repeat < times; ++repeat)
            longer.insert(longer.end(), samples.begin(), samples.end());
        longer.insert(longer.end(), 8000, 0);
        return longer;
    };
    for (const auto& [times, searches] : {std::pair{4, 0u}, std::pair{3, 1u}}) {
        const auto before = service.searchesAhead();
        const auto longer = repeated(times);
        // In one buffer: the decoder searches its quiet (or not) before it
        // tells the live text, and nothing waits behind it.
        recognize(runtime, *recognizer, longer, int16Mono, true, longer.size(), "microphone", [&](auto&) {
            const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (runtime.runUntilIdle() == 0 && std::chrono::steady_clock::now() < giveUp)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        });
        EXPECT_EQ(service.searchesAhead() - before, searches);
    }
}

// An estimate from a file can say anything: only one a decoder of the model
// could have learnt is taken, and one that is not a number never is. Two
// estimates are near only number by number.
TEST(SphinxInputLearning, estimatesAreTakenOnlyWithinWhatADecoderLearnsAndNearOnlyEveryNumber)
{
    using Learning = sys::SphinxInputLearning;
    const std::vector<float> start(13, 0.0f);
    const auto with = [&](std::size_t at, float value) {
        auto mean = start;
        mean[at] = value;
        return mean;
    };
    EXPECT_TRUE(Learning::learnable(with(12, -120), start));
    EXPECT_FALSE(Learning::learnable(with(12, 121), start));
    EXPECT_FALSE(Learning::learnable(with(0, std::numeric_limits<float>::quiet_NaN()), start));
    EXPECT_FALSE(Learning::learnable(with(0, std::numeric_limits<float>::infinity()), start));
    EXPECT_FALSE(Learning::learnable(std::vector<float>(12, 0.0f), start));
    EXPECT_TRUE(Learning::near(with(12, 0.5f), start));
    EXPECT_FALSE(Learning::near(with(12, 0.6f), start));
    EXPECT_FALSE(Learning::near(std::vector<float>(12, 0.0f), start));
}

// Two estimates together weigh each by the frames behind it, up to the
// decoder's own window, beyond which a source heard long would never move
// again.
TEST(SphinxChannelEstimate, meansAreWeighedByTheirFramesUpToTheDecodersWindow)
{
    const sys::ChannelMean earlier{{0, 10, 4}, 100}, now{{4, 0, 4}, 300};
    const auto both = sys::blended(earlier, now);
    EXPECT_EQ(both.mean, (std::vector<float>{3, 2.5, 4}));
    EXPECT_EQ(both.frames, 400);
    EXPECT_EQ(sys::blended(both, both).frames, sys::ChannelEstimate::window);
    // A start shorter than the speech's mean leaves the rest as the speech says.
    EXPECT_EQ(sys::toward({0, 10}, {4, 0, 4}, 0.5f), (std::vector<float>{2, 5, 4}));
}

// An utterance the decoder still learns its input from is judged only with
// enough speech behind it, decoded again only where the input sounds
// otherwise than kept or the estimate moved with too little behind what was
// kept, and settles a kept estimate once judged.
TEST_F(SphinxSpeechRecognizer, anUtteranceSettlesAnInputAndIsDecodedAgainOnlyWhereItTellsEnough)
{
    requireModelAnd({recording});
    if (IsSkipped())
        return;
    auto* decoder = loadedDecoder();
    const auto samples = test::readSamples(recording);
    const auto start = sys::ChannelEstimate::meanOf(decoder);
    // Measured as the engine's decoders measure it, their front end having
    // heard the input before (its estimate of the noise carries over).
    sys::ChannelEstimate::soundOf(decoder, samples, sys::SphinxInputLearning::framesToJudge);
    const auto sound = sys::ChannelEstimate::soundOf(decoder, samples, sys::SphinxInputLearning::framesToJudge);
    ASSERT_TRUE(sound);
    const auto moved = [](std::vector<float> numbers, float by, std::size_t from = 0, std::size_t to = 1) {
        for (auto i = from; i < to; ++i)
            numbers[i] += by;
        return numbers;
    };
    using Mean = sys::ChannelMean;
    const Mean trusted{start, 300, *sound};
    struct Case {
        const char* what;
        std::optional<Mean> kept;
        Mean learnt;
        bool judged, again;
    };
    const Case cases[] = {
        {"too short to judge by", trusted, {moved(start, 9, 0, 13), 49}, false, false},
        {"as kept", trusted, {start, 100}, true, false},
        {"other pauses move the mean, not the sound", Mean{moved(start, 11), 300, *sound}, {start, 100}, true, false},
        {"a little softer", Mean{start, 300, moved(*sound, 4.5f)}, {start, 100}, true, false},
        {"softer", Mean{start, 300, moved(*sound, 5.5f)}, {start, 100}, true, true},
        {"another speaker", Mean{start, 300, moved(*sound, 13, 1, 13)}, {start, 100}, true, true},
        {"little behind what was kept", Mean{start, 100, *sound}, {moved(start, 2, 0, 13), 100}, true, true},
        {"enough behind it", trusted, {moved(start, 2, 0, 13), 100}, true, false},
        {"an older file, without the sound", Mean{moved(start, 11), 300}, {start, 100}, true, true},
        {"first, near the start", std::nullopt, {moved(start, 0.4f, 0, 13), 100}, true, false},
        {"first, away from the start", std::nullopt, {moved(start, 0.6f), 100}, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sys::SphinxInputLearning learning{"microphone", c.kept, false, c.kept ? c.kept->sound : std::vector<float>{}};
        const auto lesson = learning.learnFrom(decoder, "microphone", c.learnt, samples, start);
        EXPECT_EQ(lesson.judged, c.judged);
        EXPECT_EQ(lesson.again, c.again);
        EXPECT_EQ(learning.settled, c.kept && c.judged);
        // Unjudged, what was kept stands; a first utterance's lesson waits
        // for the next one to confirm it.
        if (!c.judged)
            EXPECT_EQ(sys::ChannelEstimate::meanOf(decoder), c.kept->mean);
        if (c.kept)
            EXPECT_EQ(learning.kept, c.judged ? std::nullopt : c.kept);
        else
            EXPECT_EQ(learning.kept, (Mean{c.learnt.mean, c.learnt.frames, *sound}));
    }
}

// A follower decodes what it is handed in order and waits for its last
// search, answers once per start, and gives its decoder back ready to start
// again.
TEST_F(SphinxSpeechRecognizer, aFollowerHearsWhatItIsHandedInOrderAndAnswersOncePerStart)
{
    requireModelAnd({recording});
    if (IsSkipped())
        return;
    auto* decoder = loadedDecoder();
    const auto samples = test::readSamples(recording);
    const auto start = sys::ChannelEstimate::meanOf(decoder);
    const std::vector<std::int16_t> half(samples.begin(), samples.begin() + 20000);
    sys::SphinxFollower follower(decoder);
    follower.startAt(start, half);
    // The rest as the audio comes, a buffer at a time.
    for (auto at = samples.begin() + 20000; at < samples.end();) {
        const auto next = at + std::min<std::ptrdiff_t>(samples.end() - at, 1600);
        follower.hear(std::make_shared<const std::vector<std::int16_t>>(at, next));
        at = next;
    }
    EXPECT_TRUE(follower.end());
    EXPECT_EQ(wordsOf(decoder), "go forward ten meters");
    EXPECT_FALSE(follower.end());

    follower.startAt(start, half);
    EXPECT_EQ(follower.stop(), decoder);
    EXPECT_FALSE(follower.following());
    EXPECT_FALSE(follower.end());
    follower.startAt(start, samples);
    EXPECT_TRUE(follower.end());
}

// A first utterance no follower followed (too short, or over before they
// loaded) is decoded again at its end at the likely estimates: side by side
// on the followers' decoders where they are loaded, with the reading they
// give the decoder itself; where none is ready, the decoder does it alone.
TEST_F(SphinxSpeechRecognizer, aFirstUtteranceDecodedAgainAtItsEndIsDecodedAsideWhereDecodersAreReady)
{
    requireModelAnd({recording});
    if (IsSkipped())
        return;
    const auto samples = test::readSamples(recording);
    const auto counts = std::make_shared<sys::SphinxSpeechRecognitionService::Counts>();
    sys::SphinxDecoderPool pool(usEnglish(), counts, nullptr);
    sys::SphinxFollowing following(pool, true);
    sys::SphinxTaskState task;
    std::optional<std::int32_t> best;
    task.decoder = pool.take("microphone");
    ASSERT_NE(task.decoder, nullptr);
    const auto speech = sys::ChannelEstimate::ofSpeech(task.decoder, samples, sys::SphinxInputLearning::framesToJudge);
    ASSERT_TRUE(speech);
    std::vector<std::vector<float>> at;
    for (const float share : sys::likelyShares)
        at.push_back(sys::toward(pool.modelStart(), *speech, share));
    {
        sys::SphinxDecoderPool none(usEnglish(), counts, nullptr);
        sys::SphinxFollowing unready(none, true);
        sys::SphinxTaskState alone;
        EXPECT_FALSE(unready.decodeAside(alone, samples, at, best));
        EXPECT_FALSE(alone.chosen);
        EXPECT_TRUE(alone.followers.empty());
    }
    ASSERT_TRUE(test::waitUntil([&] { return pool.sparesReady() >= sys::SphinxFollowing::followers; }));
    ASSERT_TRUE(following.decodeAside(task, samples, at, best));
    ASSERT_TRUE(task.chosen);
    EXPECT_EQ(task.chosen->formattedString, "go forward ten meters");
    following.stop(task);
    pool.giveBack(task.decoder);
}

// Loading a decoder reads the whole model, a second or more on a busy
// computer: the decoders that follow a new source's first utterance load on
// a thread of their own as soon as the source is taken, while it is still
// quiet, rather than on the decoding thread once its voice began; a source
// the pool holds enough idle decoders for loads none.
TEST_F(SphinxSpeechRecognizer, theFollowersDecodersLoadWhileANewSourceIsStillQuiet)
{
    requireModelAnd({});
    if (IsSkipped())
        return;
    const auto counts = std::make_shared<sys::SphinxSpeechRecognitionService::Counts>();
    sys::SphinxDecoderPool pool(usEnglish(), counts, nullptr);
    const auto withFollowers = 1 + sys::SphinxFollowing::followers;
    struct Case {
        const char* what;
        const char* source;
        std::size_t loads;
    };
    std::vector<ps_decoder_t*> taken;
    for (const auto& [what, source, loads] :
         {Case{"a source never heard", "microphone", withFollowers},
          Case{"a second one, while the first one's followers' decoders wait unlent", "call", withFollowers + 1}}) {
        SCOPED_TRACE(what);
        auto* decoder = pool.take(source);
        ASSERT_NE(decoder, nullptr);
        taken.push_back(decoder);
        EXPECT_TRUE(test::waitUntil([&, loads = loads] { return counts->loads.load() >= loads; }));
        std::vector<ps_decoder_t*> spares;
        for (std::size_t i = 0; i < sys::SphinxFollowing::followers; ++i) {
            spares.push_back(pool.spare());
            EXPECT_NE(spares.back(), nullptr);
            EXPECT_NE(spares.back(), decoder);
        }
        EXPECT_EQ(counts->loads.load(), loads);
        for (auto* spare : spares)
            pool.giveBack(spare);
    }
    for (auto* decoder : taken)
        pool.giveBack(decoder);
}

// Of an utterance read by its decoder and by followers, the text is the
// reading of the follower the model finds likelier. The followers start
// from the model's own estimate, wherever the decoder started; the
// decoder's own reading takes no part, even where the model scores it
// higher: far off its input's channel, an empty reading scores highest.
// However long the source was quiet before it spoke, the followers stand
// on its speech.
TEST_F(SphinxSpeechRecognizer, theTextIsTheLikelierFollowersReadingWhereverTheDecoderStarted)
{
    requireModelAnd({recording});
    if (IsSkipped())
        return;
    const auto spoken = test::readSamples(recording);
    sys::SphinxDecoderPool pool(usEnglish(), std::make_shared<sys::SphinxSpeechRecognitionService::Counts>(), nullptr);
    sys::SphinxFollowing following(pool, true);
    auto* decoder = pool.take("microphone");
    ASSERT_NE(decoder, nullptr);
    const auto start = sys::ChannelEstimate::meanOf(decoder);
    struct Case {
        const char* what;
        float offset;
        double quietBefore;
    };
    for (const auto& [what, offset, quietBefore] :
         {Case{"the decoder far off", 25.0f, 0.0},
          Case{"the decoder so far off that its empty reading scores highest", 50.0f, 0.0},
          Case{"the decoder further off still", 100.0f, 0.0},
          Case{"the source quiet for five seconds before it speaks", 50.0f, 5.0}}) {
        SCOPED_TRACE(what);
        auto samples = std::vector<std::int16_t>(static_cast<std::size_t>(quietBefore * 16000), 0);
        samples.insert(samples.end(), spoken.begin(), spoken.end());
        sys::SphinxTaskState task;
        task.decoder = decoder;
        auto farOff = start;
        farOff[0] += offset;
        sys::ChannelEstimate::learnAnew(decoder, farOff);
        task.heard = samples;
        ASSERT_GE(ps_start_utt(decoder), 0);
        ASSERT_GE(ps_process_raw(decoder, samples.data(), samples.size(), FALSE, FALSE), 0);
        ASSERT_GE(ps_end_utt(decoder), 0);
        const auto own = wordsOf(decoder);
        following.follow(task, samples);
        ASSERT_EQ(task.followers.size(), sys::SphinxFollowing::followers);
        following.likeliest(task);
        ASSERT_TRUE(task.chosen);
        EXPECT_EQ(task.chosen->formattedString, "go forward ten meters");
        EXPECT_NE(own, task.chosen->formattedString);
        following.stop(task);
    }
    pool.giveBack(decoder);
}
