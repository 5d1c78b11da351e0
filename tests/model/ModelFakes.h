#pragma once

#include "audio/CallAudioCapturing.h"
#include "audio/DirectVoiceRouting.h"
#include "audio/IncomingListening.h"
#include "audio/OwnSpeechRecording.h"
#include "audio/SpeechPlaying.h"
#include "audio/VirtualMicProbe.h"
#include "runtime/Continuation.h"
#include "runtime/Error.h"
#include "runtime/Runtime.h"
#include "runtime/SerialQueue.h"
#include "runtime/Sleep.h"
#include "speech/TranslationService.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace parlaro::test {

// What the fakes were asked to do, in order, across all of them.
using EventLog = std::shared_ptr<std::vector<std::string>>;

// Speaks on the test clock: each speech takes `speakSeconds`, and with
// `holdSpeech` it waits until the test calls finishSpeaking() or stop(),
// which ends it with a cancellation as the real speaker's stop does.
class FakeSpeaker final : public SpeechPlaying {
public:
    explicit FakeSpeaker(EventLog log) : log_(std::move(log)) {}

    struct Spoken {
        std::string text;
        std::vector<AudioObjectId> devices;
        std::optional<std::string> voice;
    };
    struct Played {
        std::vector<PcmBuffer> buffers;
        AudioObjectId device = 0;
    };
    std::vector<Spoken> spoken;
    std::vector<Played> played;
    std::optional<DomainError> speakError;
    std::optional<DomainError> playError;
    double speakSeconds = 0;
    bool holdSpeech = false;

    using SpeechPlaying::speak;
    rt::Async<void> speak(std::string text, std::vector<AudioObjectId> devices,
                          std::optional<std::string> voiceIdentifier) override
    {
        log_->push_back("speaker speak");
        spoken.push_back({std::move(text), std::move(devices), std::move(voiceIdentifier)});
        if (speakSeconds > 0)
            co_await rt::sleepFor(speakSeconds);
        if (holdSpeech)
            co_await rt::withContinuation<void>([this](rt::Continuation<void> done) { pending_.push_back(done); });
        if (speakError)
            throw *speakError;
    }
    rt::Async<void> play(std::vector<PcmBuffer> buffers, AudioObjectId deviceID) override
    {
        log_->push_back("speaker play " + std::to_string(deviceID) + " " + std::to_string(buffers.size()));
        played.push_back({std::move(buffers), deviceID});
        if (playError)
            throw *playError;
        co_return;
    }
    void stop() override
    {
        log_->push_back("speaker stop");
        for (const auto& done : std::exchange(pending_, {}))
            done.fail(rt::CancellationError());
    }
    void finishSpeaking()
    {
        for (const auto& done : std::exchange(pending_, {}))
            done.resume();
    }
    bool isSpeaking() const { return !pending_.empty(); }

private:
    EventLog log_;
    std::vector<rt::Continuation<void>> pending_;
};

class FakeCapture final : public CallAudioCapturing {
public:
    explicit FakeCapture(EventLog log) : log_(std::move(log)) {}

    std::optional<DomainError> startError;
    // Reported through the stop handler as soon as the capture starts.
    std::optional<std::string> stopOnStart;

    const std::shared_ptr<rt::SerialQueue>& queue() const override { return queue_; }
    void start(BufferHandler, StopHandler onStop) override
    {
        log_->push_back("capture start");
        if (startError)
            throw *startError;
        if (stopOnStart && onStop)
            onStop(*stopOnStart);
    }
    void stop() override { log_->push_back("capture stop"); }
    bool stopAndWait() override
    {
        log_->push_back("capture stopAndWait");
        return true;
    }

private:
    EventLog log_;
    std::shared_ptr<rt::SerialQueue> queue_ = rt::makeSerialQueue("call-audio-capture");
};

class FakeIncoming final : public IncomingListening {
public:
    explicit FakeIncoming(EventLog log) : log_(log), capture_(std::make_shared<FakeCapture>(log)) {}

    std::shared_ptr<RecognitionSession> session;
    ResultHandler onResult;
    ErrorHandler onError;
    std::optional<DomainError> startError;

    rt::Async<void> start(std::shared_ptr<RecognitionSession> newSession, ResultHandler result,
                          ErrorHandler error) override
    {
        log_->push_back("incoming start");
        if (startError)
            throw *startError;
        session = std::move(newSession);
        onResult = std::move(result);
        onError = std::move(error);
        co_return;
    }
    rt::Async<void> stop() override
    {
        log_->push_back("incoming stop");
        session.reset();
        co_return;
    }
    void dropSession() override
    {
        log_->push_back("incoming drop");
        session.reset();
    }
    std::shared_ptr<CallAudioCapturing> capture() const override { return capture_; }

private:
    EventLog log_;
    std::shared_ptr<FakeCapture> capture_;
};

// A voice route; `name` tells the model's two routes apart in the log.
class FakeRoute final : public DirectVoiceRouting {
public:
    FakeRoute(EventLog log, std::string name) : log_(std::move(log)), name_(std::move(name)) {}

    std::optional<std::pair<AudioObjectId, AudioObjectId>> running;
    StopHandler onStop;
    std::optional<DomainError> startError;

    void start(AudioObjectId input, AudioObjectId output, StopHandler stopped) override
    {
        log_->push_back(name_ + " start " + std::to_string(input) + ">" + std::to_string(output));
        if (startError)
            throw *startError;
        running = {input, output};
        onStop = std::move(stopped);
    }
    void stop() override
    {
        log_->push_back(name_ + " stop");
        running.reset();
    }

private:
    EventLog log_;
    std::string name_;
};

class FakeProbe final : public VirtualMicProbing {
public:
    std::shared_ptr<InputLevelTap> tap = std::make_shared<InputLevelTap>();
    std::shared_ptr<InputLevelTap> levelTap() const override { return tap; }
};

// The user's recorder, driven by the test: with `holdStart` or `holdFinish`
// the start or the finish waits until the test answers it. Like the real
// recorder, a start fails with a cancellation when the press is over by the
// time the microphone would start.
class FakeRecorder final : public OwnSpeechRecording {
public:
    explicit FakeRecorder(EventLog log) : log_(std::move(log)) {}

    std::vector<Request> requests;
    std::string finalText;
    std::optional<DomainError> startError;
    bool holdStart = false;
    bool holdFinish = false;
    // The microphone runs: from a start until stopCapture() or cancel().
    bool capturing = false;
    // Off: the start succeeds even when the press ended while it waited,
    // as a real start does when the release comes just after it.
    bool checkPress = true;

    rt::Async<void> start(Request request) override
    {
        log_->push_back("recorder start");
        requests.push_back(std::move(request));
        if (holdStart)
            co_await rt::withContinuation<void>([this](rt::Continuation<void> go) { startWaiting_ = go; });
        if (startError)
            throw *startError;
        if (checkPress && !requests.back().isPressCurrent())
            throw rt::CancellationError();
        capturing = true;
    }
    void stopCapture() override
    {
        log_->push_back("recorder stopCapture");
        capturing = false;
    }
    rt::Async<std::string> finish() override
    {
        log_->push_back("recorder finish");
        if (holdFinish)
            co_return co_await rt::withContinuation<std::string>(
                [this](rt::Continuation<std::string> done) { finishWaiting_ = done; });
        co_return finalText;
    }
    rt::Async<void> cancel() override
    {
        log_->push_back("recorder cancel");
        capturing = false;
        co_return;
    }

    void answerStart() { std::exchange(startWaiting_, std::nullopt)->resume(); }
    void answerFinish(const std::string& text) { std::exchange(finishWaiting_, std::nullopt)->resume(text); }
    bool startPending() const { return startWaiting_.has_value(); }
    bool finishPending() const { return finishWaiting_.has_value(); }
    // The callbacks of the latest start.
    void live(const std::string& text) const { requests.back().onLiveText(text); }
    void sentence(const std::string& text) const { requests.back().onSentence(text); }
    void fail(const std::string& text) const { requests.back().onErrorText(text); }

private:
    EventLog log_;
    std::optional<rt::Continuation<void>> startWaiting_;
    std::optional<rt::Continuation<std::string>> finishWaiting_;
};

// Translates by tagging the text with the target language: "en:你好";
// fails with `error` when set. With `holdAnswers` each call waits in
// `waiting` until the test answers it.
class FakeTranslator final : public TranslationService {
public:
    explicit FakeTranslator(EventLog log) : log_(std::move(log)) {}

    struct Waiting {
        std::string text;
        std::string source;
        std::string target;
        rt::Continuation<std::string> answer;
    };
    std::optional<DomainError> error;
    bool holdAnswers = false;
    std::vector<Waiting> waiting;
    // A preparation fails with `prepareError`; with `holdPrepares` each one
    // waits in `preparing` until the test lets it go.
    std::optional<DomainError> prepareError;
    bool holdPrepares = false;
    std::vector<rt::Continuation<void>> preparing;

    std::string adapterName() const override { return "test translation"; }
    rt::Async<std::string> translate(std::string text, std::string source, std::string target) override
    {
        log_->push_back("translate " + text);
        if (error)
            throw *error;
        if (holdAnswers) {
            co_return co_await rt::withContinuation<std::string>([&](rt::Continuation<std::string> answer) {
                waiting.push_back({text, source, target, answer});
            });
        }
        co_return target + ":" + text;
    }
    rt::Async<void> prepare(std::string source, std::string target) override
    {
        log_->push_back("prepare " + source + ">" + target);
        if (holdPrepares)
            co_await rt::withContinuation<void>([this](rt::Continuation<void> go) { preparing.push_back(go); });
        if (prepareError)
            throw *prepareError;
    }
    void reset() override { log_->push_back("translator reset"); }

private:
    EventLog log_;
};

}  // namespace parlaro::test
