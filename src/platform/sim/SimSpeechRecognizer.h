#pragma once

#include "platform/SpeechRecognizer.h"
#include "runtime/WorkItem.h"

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace parlaro::sim {

// A transcription whose segments are the white-space separated words of the
// text, without the punctuation that trails them ("Hello there." gives
// "Hello" and "there"), the way recognizers segment spaced scripts.
Transcription spoken(const std::string& text);
// The same with the words given, for scripts written without spaces.
Transcription spoken(const std::string& text, const std::vector<std::string>& words);

// One scripted answer of a sim recognition task: a result or an error, due a
// number of virtual seconds after the task starts or after its request's
// audio ends.
struct SimRecognitionEvent {
    enum class When { afterStart, afterEndOfAudio };

    When when = When::afterStart;
    double delay = 0.0;
    std::optional<SpeechRecognitionResult> result;
    std::optional<DomainError> error;

    static SimRecognitionEvent partial(Transcription transcription, double at = 0.0, When when = When::afterStart);
    static SimRecognitionEvent final(Transcription transcription, double at = 0.0, When when = When::afterStart);
    static SimRecognitionEvent failure(std::string domain, std::int64_t code, std::string description, double at = 0.0,
                                       When when = When::afterStart);
    // The usual answer to ended audio: the final text right away.
    static SimRecognitionEvent finalAtEndOfAudio(Transcription transcription, double delay = 0.0)
    {
        return final(std::move(transcription), delay, When::afterEndOfAudio);
    }
};
using SimRecognitionScript = std::vector<SimRecognitionEvent>;

class SimSpeechRecognitionTask;

// A request that records what it was given.
class SimRecognitionRequest final : public SpeechAudioBufferRecognitionRequest {
public:
    SimRecognitionRequest(AudioFormat nativeFormat, double createdAt);

    AudioFormat nativeAudioFormat() const override { return nativeFormat_; }
    void append(const PcmBuffer& buffer) override;
    void endAudio() override;

    // Virtual uptime when the request was made.
    double createdAt() const { return createdAt_; }
    // Copies of the buffers appended before the audio ended.
    std::vector<PcmBuffer> appended() const;
    std::size_t appendedFrames() const;
    bool audioEnded() const;
    // Virtual uptime of endAudio(); none while the audio is open.
    std::optional<double> audioEndedAt() const;

private:
    friend class SimSpeechRecognitionTask;
    void attach(std::weak_ptr<SimSpeechRecognitionTask> task);

    AudioFormat nativeFormat_;
    double createdAt_;
    mutable std::mutex mutex_;
    std::vector<PcmBuffer> appended_;
    std::optional<double> endedAt_;
    std::weak_ptr<SimSpeechRecognitionTask> task_;
};

// A task that plays its script on the virtual clock. A test may also answer
// by hand with deliver() and fail(). Everything reaches the handler through
// the main executor, and nothing after the final result, an error or cancel.
class SimSpeechRecognitionTask final : public SpeechRecognitionTask,
                                       public std::enable_shared_from_this<SimSpeechRecognitionTask> {
public:
    SimSpeechRecognitionTask(std::shared_ptr<SimRecognitionRequest> request, SpeechRecognizer::ResultHandler handler,
                             SimRecognitionScript script, double startedAt);

    void cancel() override;
    bool isCancelled() const override { return cancelled_.load(); }
    // While a final result or an error the script has for ended audio is
    // on its way.
    bool isFinishing() const override { return finishing_.load() && !finished_.load() && !cancelled_.load(); }

    void deliver(SpeechRecognitionResult result);
    void fail(DomainError error);
    // An answer that crossed the end of the task on its way: handed over
    // even after a final result, an error or cancel.
    void deliverLate(std::optional<SpeechRecognitionResult> result, std::optional<DomainError> error);

    const std::shared_ptr<SimRecognitionRequest>& request() const { return request_; }
    double startedAt() const { return startedAt_; }
    // A final result or an error has been handed over.
    bool isFinished() const { return finished_.load(); }
    std::vector<SpeechRecognitionResult> deliveredResults() const;
    std::vector<DomainError> deliveredErrors() const;

private:
    friend class SimSpeechRecognitionService;
    friend class SimRecognitionRequest;
    void begin();
    void audioDidEnd();
    void schedule(const SimRecognitionEvent& event);
    void post(std::optional<SpeechRecognitionResult> result, std::optional<DomainError> error, double delay,
              bool late = false);
    void hand(const std::optional<SpeechRecognitionResult>& result, const std::optional<DomainError>& error, bool late);

    std::shared_ptr<SimRecognitionRequest> request_;
    SpeechRecognizer::ResultHandler handler_;
    SimRecognitionScript script_;
    double startedAt_;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> finishing_{false};
    mutable std::mutex mutex_;
    std::vector<SpeechRecognitionResult> results_;
    std::vector<DomainError> errors_;
    std::vector<rt::WorkItem> pending_;
};

class SimSpeechRecognitionService;

class SimSpeechRecognizer final : public SpeechRecognizer {
public:
    SimSpeechRecognizer(SimSpeechRecognitionService& service, std::string locale, bool supportsOnDevice,
                        AudioFormat nativeFormat);

    std::string locale() const override { return locale_; }
    bool supportsOnDeviceRecognition() const override { return supportsOnDevice_; }
    std::shared_ptr<SpeechAudioBufferRecognitionRequest> makeRequest() override;
    std::shared_ptr<SpeechRecognitionTask> recognitionTask(std::shared_ptr<SpeechAudioBufferRecognitionRequest> request,
                                                           ResultHandler handler) override;
    std::optional<std::string> closingMark(const std::string& text) const override;
    std::optional<std::string> continuation(const std::string& before, const std::string& after,
                                            double pause) const override;

private:
    SimSpeechRecognitionService& service_;
    std::string locale_;
    bool supportsOnDevice_;
    AudioFormat nativeFormat_;
};

// Speech recognition in memory. Locales must be added to have a recognizer.
// Each new task takes the next script queued for its locale, or the
// locale's standing script when none is queued; an empty script never
// answers. The service must outlive its recognizers.
class SimSpeechRecognitionService final : public SpeechRecognitionService {
public:
    // How the sim's requests take audio unless a locale says otherwise.
    static AudioFormat defaultNativeFormat() { return AudioFormat{16000, 1, SampleType::float32, false}; }

    void requestAuthorization(std::function<void(SpeechAuthorizationStatus)> handler) override;
    std::shared_ptr<SpeechRecognizer> makeRecognizer(const std::string& locale) override;

    // The answer to authorization requests; none leaves them waiting until
    // answerAuthorization(). Authorized by default.
    void setAuthorization(std::optional<SpeechAuthorizationStatus> status);
    // Answers the waiting requests (and later ones, from now on).
    void answerAuthorization(SpeechAuthorizationStatus status);
    std::size_t authorizationRequests() const;

    void addLocale(const std::string& locale, bool supportsOnDevice = true,
                   AudioFormat nativeFormat = defaultNativeFormat());
    // Queues a script for the next task of the locale.
    void script(const std::string& locale, SimRecognitionScript script);
    // The script of every task of the locale that finds no queued one.
    void setStandingScript(const std::string& locale, SimRecognitionScript script);
    // Whether a sentence ends between the texts of two requests a pause
    // apart, as the locale's recognizers answer it; without one (as added)
    // they cannot tell.
    using SentenceEnds = std::function<bool(const std::string& before, const std::string& after, double pause)>;
    void setSentenceEnds(const std::string& locale, SentenceEnds judge);
    // The mark the locale's recognizers leave to their caller to close a
    // text with; without one (as added) they write their own.
    using ClosingMarks = std::function<std::string(const std::string& text)>;
    void setClosingMarks(const std::string& locale, ClosingMarks marks);

    // Every recognizer made, in order; released ones have expired.
    std::vector<std::weak_ptr<SimSpeechRecognizer>> recognizers() const;
    std::vector<std::shared_ptr<SimRecognitionRequest>> requests() const;
    std::vector<std::shared_ptr<SimSpeechRecognitionTask>> tasks() const;

private:
    friend class SimSpeechRecognizer;
    struct Locale {
        bool supportsOnDevice = true;
        AudioFormat nativeFormat;
        std::deque<SimRecognitionScript> queued;
        SimRecognitionScript standing;
        SentenceEnds sentenceEnds;
        ClosingMarks closingMarks;
    };
    void record(std::shared_ptr<SimRecognitionRequest> request);
    // The locale's `field` (its sentence-end judge, its closing marks), or
    // none for a locale never added.
    template <class Field>
    Field ofLocale(const std::string& locale, Field Locale::*field) const;
    std::shared_ptr<SimSpeechRecognitionTask> startTask(const std::string& locale,
                                                        std::shared_ptr<SimRecognitionRequest> request,
                                                        SpeechRecognizer::ResultHandler handler);

    mutable std::mutex mutex_;
    std::optional<SpeechAuthorizationStatus> authorization_ = SpeechAuthorizationStatus::authorized;
    std::vector<std::function<void(SpeechAuthorizationStatus)>> waiting_;
    std::size_t authorizationRequests_ = 0;
    std::map<std::string, Locale> locales_;
    std::vector<std::weak_ptr<SimSpeechRecognizer>> recognizers_;
    std::vector<std::shared_ptr<SimRecognitionRequest>> requests_;
    std::vector<std::shared_ptr<SimSpeechRecognitionTask>> tasks_;
};

}  // namespace parlaro::sim
