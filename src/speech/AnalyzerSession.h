#pragma once

#include "platform/AudioConverter.h"
#include "platform/AudioFormat.h"
#include "platform/SpeechAnalyzer.h"
#include "runtime/AsyncStream.h"
#include "runtime/Task.h"
#include "speech/RecognitionMode.h"
#include "speech/RecognitionSession.h"
#include "speech/SpeechEngine.h"
#include "speech/SpeechModels.h"
#include "speech/SpeechPause.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace parlaro {

// Recognition with the speech analyzer of the newer platform, for the
// `speech` and `dictation` engines. Every buffer is converted to one analyzer
// format and queued without bound, so appending never blocks or drops audio.
// Results reach onResult one at a time, in order, on the main actor, partial
// ones included and untrimmed. In `held` mode the open sentence is finalized
// at pauses the level detector finds (never for English; for Japanese only
// when the text does not end in a continuation).
//
// Owned by std::shared_ptr (make with AnalyzerSession::make): the results
// task holds the session weakly, so a released session no longer reports the
// end of its results as a failure.
class AnalyzerSession final : public RecognitionSession, public std::enable_shared_from_this<AnalyzerSession> {
    struct Token {};

public:
    AnalyzerSession(Token, std::string locale, SpeechEngine engine, RecognitionMode mode);
    static std::shared_ptr<AnalyzerSession> make(std::string locale, SpeechEngine engine, RecognitionMode mode);

    const std::string& locale() const { return locale_; }
    SpeechEngine engine() const { return engine_; }
    RecognitionMode mode() const { return mode_; }

    rt::Async<void> start(ResultHandler onResult, FailureHandler onFailure) override;
    void append(std::shared_ptr<const PcmBuffer> buffer) override;
    rt::Async<void> finish() override;
    rt::Async<void> cancel() override;

    // The model operations of the analyzer engines (see SpeechModels).
    static rt::Async<std::optional<std::string>> supportedLocale(std::string locale, bool dictation)
    {
        return SpeechModels::supportedLocale(std::move(locale), dictation);
    }
    static rt::Async<std::optional<SpeechEngine>> engine(std::string locale)
    {
        return SpeechModels::engine(std::move(locale));
    }
    static rt::Async<bool> isInstalled(std::string locale, SpeechEngine engine)
    {
        return SpeechModels::isInstalled(std::move(locale), engine);
    }
    static rt::Async<void> installAssets(std::string locale, SpeechEngine engine, std::vector<std::string> keeping,
                                         SpeechModels::Progress progress)
    {
        return SpeechModels::installAssets(std::move(locale), engine, std::move(keeping), std::move(progress));
    }

    // The format audio is queued in once started.
    std::optional<AudioFormat> analyzerFormat() const;

private:
    struct Transcription {
        std::vector<std::shared_ptr<Transcriber>> modules;
        rt::AsyncStream<TranscriberResult> results;
    };
    struct Ended {
        std::shared_ptr<SpeechAnalyzer> analyzer;
        rt::TaskHandle<> resultsTask;
        bool hasAudio;
    };

    Transcription makeTranscriber();
    AnalyzerInput makeInput(std::shared_ptr<const PcmBuffer> buffer);
    void detectPauses(const PcmBuffer& buffer, const AudioFormat& format);
    bool shouldFinalizeAtPause() const;
    Ended endInput();
    void drainConverter();
    bool isEnding();
    rt::TaskHandle<> startResultsTask(rt::AsyncStream<TranscriberResult> results);
    void queueCopy(const PcmBuffer& buffer);
    void queueConverted(const PcmBuffer& buffer);

    const std::string locale_;
    const SpeechEngine engine_;
    const RecognitionMode mode_;

    ResultHandler onResult_;
    FailureHandler onFailure_;

    // Guards everything below; append holds it for its whole run.
    mutable std::mutex audioLock_;
    bool hasAudio_ = false;
    bool ending_ = false;
    std::shared_ptr<SpeechAnalyzer> analyzer_;
    std::optional<rt::AsyncStream<AnalyzerInput>::Continuation> continuation_;
    std::optional<AudioFormat> analyzerFormat_;
    std::optional<AudioConverter> converter_;
    std::optional<AudioFormat> converterInputFormat_;
    rt::TaskHandle<> resultsTask_;
    SpeechPause pause_;
    std::int64_t fedFrames_ = 0;
    std::string openText_;
};

}  // namespace parlaro
