#pragma once

#include "platform/SpeechSynthesizer.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace parlaro::sys {

// How the synthesizer runs its voice process.
struct EspeakVoiceProcess {
    // Added to its command line; tests make it fail with "--abort-on=X"
    // or "--hang-on=X" (after the first sound of a text holding X).
    std::vector<std::string> arguments;
    // A render this long without a word from the process is hung.
    std::chrono::milliseconds silenceLimit{10'000};
    // How long starting it and listing its voices may take.
    std::chrono::milliseconds startLimit{60'000};
};

// Speech synthesis on espeak-ng, rendering into 16-bit mono buffers at the
// engine's rate (22050 Hz).
//
// The engine is a C library that has overrun its buffers on unusual text, so
// it runs in a voice process of its own (parlaro-voice), which this object starts, feeds one render at a
// time from its worker thread and restarts when it dies. A render whose
// process ends, stays silent past VoiceProcess::silenceLimit or sends more
// sound than any text brings, or that fails in the worker (out of memory,
// or a callback that throws), ends with the failure mark; the next render
// gets a new process.
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

    using VoiceProcess = EspeakVoiceProcess;

    // dataPath: the folder holding espeak-ng-data; none for the installed data.
    explicit EspeakSpeechSynthesizer(std::vector<ReadingCheck> checks = defaultReadingChecks(),
                                     std::optional<std::string> dataPath = std::nullopt, VoiceProcess process = {});
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
    // The voice process's executable: beside the running program, else
    // where `cmake --install` puts it relative to the program
    // (../libexec/parlaro), else, for a program run from the build tree,
    // where the build made it; empty when there is none.
    static std::string voiceProcessPath();

    // One queued or running render; public only for the engine's callback.
    struct Job;

private:
    struct Scan {
        bool done = false;
        bool available = false;
        std::vector<SynthesisVoice> voices;
    };
    enum class Heard { message, gone, silent, stopped };

    void run();
    void scanVoices();
    void listVoices(Scan& scan);
    void render(Job& job);
    // Ends a render that could not finish with the failure mark, as one
    // whose process died, unless it was stopped or has ended.
    void lose(Job& job) noexcept;
    // Hands the job to a live process, starting one when needed.
    bool sendRender(const Job& job);
    // On the worker thread.
    bool startProcess();
    void stopProcess();
    Heard await(std::chrono::milliseconds limit, Job* job, std::string& payload, char& kind);
    void signalWorker();

    std::vector<ReadingCheck> checks_;
    std::optional<std::string> dataPath_;
    VoiceProcess process_;
    // The worker's own.
    int pid_ = -1;
    int socket_ = -1;
    double sampleRate_ = 0;
    // Wakes the worker out of waiting on the process for a stop.
    int wakeFd_ = -1;

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
