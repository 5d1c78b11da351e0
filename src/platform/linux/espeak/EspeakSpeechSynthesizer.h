#pragma once

#include "platform/SpeechSynthesizer.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace parlaro::sys {

// Speech synthesis on espeak-ng, rendering into 16-bit mono buffers at the
// engine's rate (22050 Hz) through its synchronous callback interface.
//
// The engine is one process-wide state that is not thread-safe, so all its
// calls run on this object's worker thread and, across instances, under one
// process-wide lock. Renders queue in order on that thread.
//
// Voices carry BCP-47 tags ("gmw/en-US" speaks "en-US", "roa/pt" speaks
// "pt-PT"). Some voices cannot read their own language's script (a Japanese
// voice that spells kanji out as "Chinese letter" in English): a voice is
// offered only when it reads every check sentence of its base language
// without falling back to another language. The Mandarin voice serves both
// "zh-CN" and "zh-TW"; its second entry has the identifier suffix "#zh-TW".
class EspeakSpeechSynthesizer : public SpeechSynthesizer {
public:
    struct ReadingCheck {
        std::string language;  // base language code, "ja"
        std::string sentence;  // in that language's usual script
    };
    // A sentence in each call language's script.
    static std::vector<ReadingCheck> defaultReadingChecks();

    // dataPath: the folder holding espeak-ng-data; none for the installed data.
    explicit EspeakSpeechSynthesizer(std::vector<ReadingCheck> checks = defaultReadingChecks(),
                                     std::optional<std::string> dataPath = std::nullopt);
    ~EspeakSpeechSynthesizer() override;
    EspeakSpeechSynthesizer(const EspeakSpeechSynthesizer&) = delete;
    EspeakSpeechSynthesizer& operator=(const EspeakSpeechSynthesizer&) = delete;

    // False when the engine's data could not be loaded; then there are no
    // voices and write() throws.
    bool isAvailable();

    std::vector<SynthesisVoice> voices() override;
    RenderID write(const Utterance& utterance, BufferCallback onBuffer) override;
    void stopRender(RenderID render) override;
    void stopSpeaking() override;

    // espeak's "words per minute" for a rate of 0...1 (0.5 is its normal 175).
    static int wordsPerMinute(float rate);
    // The BCP-47 tag for an espeak language name and the voice's other
    // language names: "en-us" -> "en-US", "pt" (also "pt-pt") -> "pt-PT",
    // "de" -> "de-DE", "cmn-latn-pinyin" -> "zh-CN".
    static std::string languageTag(const std::string& primary, const std::vector<std::string>& others);

    // One queued or running render; public only for the engine's callback.
    struct Job;

private:
    struct Scan {
        bool done = false;
        bool available = false;
        std::vector<SynthesisVoice> voices;
    };

    void run();
    void scanVoices();
    void render(Job& job);

    std::vector<ReadingCheck> checks_;
    std::optional<std::string> dataPath_;

    std::mutex mutex_;
    std::condition_variable wake_;
    Scan scan_;
    std::deque<std::shared_ptr<Job>> jobs_;
    std::shared_ptr<Job> current_;
    RenderID nextID_ = 1;
    bool quitting_ = false;
    std::thread worker_;
};

}  // namespace parlaro::sys
