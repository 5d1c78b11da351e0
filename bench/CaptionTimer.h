#pragma once

#include "platform/SpeechRecognizer.h"
#include "speech/OnDeviceSession.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

namespace parlaro::bench {

// When each caption came, against the end of the speech it covers, in
// seconds, and the stages of that wait.
struct CaptionTime {
    // From the last buffer with voice in the request's audio (as the session
    // judges voice) reaching recognition.
    double afterVoice = 0;
    // From there until the last new live text came: how far the recognizer
    // was behind the speech.
    double words = 0;
    // From there until the request's audio ended (the session's pause
    // commit).
    double pause = 0;
    // From there until the caption: the recognizer's final result, or the
    // session's deadline.
    double final = 0;
    // The program's first caption of the other party.
    bool first = false;
    // The session's deadline ended the request, not its final result.
    bool byDeadline = false;
};

// A recognition service that hands everything on to another and times the
// captions the session makes of its requests: each request notes when its
// last voiced buffer came and when its audio ended; a final text the session
// delivers belongs to the request whose result (or whose cancellation by the
// session's deadline) is being handled at that moment, since the session
// delivers it within that call. Times the session's own deadlines as a user
// meets them.
class CaptionTimer final : public SpeechRecognitionService {
public:
    CaptionTimer(std::shared_ptr<SpeechRecognitionService> inner, std::vector<CaptionTime>& times)
        : inner_(std::move(inner)), times_(times)
    {
    }

    void requestAuthorization(std::function<void(SpeechAuthorizationStatus)> handler) override
    {
        inner_->requestAuthorization(std::move(handler));
    }
    std::shared_ptr<SpeechRecognizer> makeRecognizer(const std::string& locale) override
    {
        auto recognizer = inner_->makeRecognizer(locale);
        return recognizer ? std::make_shared<Recognizer>(std::move(recognizer), *this) : nullptr;
    }

    // Called with every final text the session delivers, on the main actor;
    // its time, none for a request that heard no voice.
    std::optional<CaptionTime> captioned()
    {
        const auto timing = std::exchange(completing_, nullptr);
        if (!timing || timing->lastVoice.load() == 0)
            return std::nullopt;
        const auto now = nanoseconds();
        const auto voice = timing->lastVoice.load();
        const auto words = std::max(timing->lastPartial, voice);
        const auto ended = std::max(timing->ended.load(), words);
        const auto seconds = [](std::int64_t from, std::int64_t to) { return static_cast<double>(to - from) / 1e9; };
        times_.push_back(CaptionTime{seconds(voice, now), seconds(voice, words), seconds(words, ended),
                                     seconds(ended, now), !std::exchange(captionedBefore_, true), byDeadline_});
        // With PARLARO_BENCH_TEXT, each caption's wait and its stages, to
        // see which stage a long one spent.
        if (std::getenv("PARLARO_BENCH_TEXT")) {
            const auto& time = times_.back();
            std::fprintf(stderr, "caption %s %.3f s: words %.3f, pause %.3f, final %.3f%s\n",
                         time.first ? "first" : "later", time.afterVoice, time.words, time.pause, time.final,
                         time.byDeadline ? " (deadline)" : "");
        }
        return times_.back();
    }

private:
    struct Timing {
        std::atomic<std::int64_t> lastVoice{0};
        std::atomic<std::int64_t> ended{0};
        // Main actor only.
        std::int64_t lastPartial = 0;
    };

    static std::int64_t nanoseconds()
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    class Request final : public SpeechAudioBufferRecognitionRequest {
    public:
        explicit Request(std::shared_ptr<SpeechAudioBufferRecognitionRequest> inner) : inner(std::move(inner)) {}
        AudioFormat nativeAudioFormat() const override { return inner->nativeAudioFormat(); }
        void append(const PcmBuffer& buffer) override
        {
            if (peakLevel(buffer) >= OnDeviceSession::voiceLevel)
                timing->lastVoice = nanoseconds();
            inner->append(buffer);
        }
        void endAudio() override
        {
            std::int64_t unset = 0;
            timing->ended.compare_exchange_strong(unset, nanoseconds());
            inner->endAudio();
        }
        std::shared_ptr<SpeechAudioBufferRecognitionRequest> inner;
        std::shared_ptr<Timing> timing = std::make_shared<Timing>();
    };

    class Task final : public SpeechRecognitionTask {
    public:
        Task(std::shared_ptr<SpeechRecognitionTask> inner, std::shared_ptr<Timing> timing, CaptionTimer& timer)
            : inner_(std::move(inner)), timing_(std::move(timing)), timer_(timer)
        {
        }
        void cancel() override
        {
            // The session cancels a request its deadline ends just before it
            // delivers the last live text as the caption.
            timer_.completing_ = timing_;
            timer_.byDeadline_ = true;
            inner_->cancel();
        }
        bool isCancelled() const override { return inner_->isCancelled(); }
        bool isFinishing() const override { return inner_->isFinishing(); }

    private:
        std::shared_ptr<SpeechRecognitionTask> inner_;
        std::shared_ptr<Timing> timing_;
        CaptionTimer& timer_;
    };

    class Recognizer final : public SpeechRecognizer {
    public:
        Recognizer(std::shared_ptr<SpeechRecognizer> inner, CaptionTimer& timer)
            : inner_(std::move(inner)), timer_(timer)
        {
        }
        std::string locale() const override { return inner_->locale(); }
        bool supportsOnDeviceRecognition() const override { return inner_->supportsOnDeviceRecognition(); }
        std::shared_ptr<SpeechAudioBufferRecognitionRequest> makeRequest() override
        {
            return std::make_shared<Request>(inner_->makeRequest());
        }
        std::shared_ptr<SpeechRecognitionTask>
        recognitionTask(std::shared_ptr<SpeechAudioBufferRecognitionRequest> request, ResultHandler handler) override
        {
            auto timed = std::static_pointer_cast<Request>(request);
            timed->inner->options = timed->options;
            auto& timer = timer_;
            auto task = inner_->recognitionTask(
                timed->inner,
                [&timer, timing = timed->timing, handler = std::move(handler)](const auto& result, const auto& error) {
                    if (result && !result->isFinal)
                        timing->lastPartial = nanoseconds();
                    timer.completing_ = timing;
                    timer.byDeadline_ = false;
                    handler(result, error);
                    timer.completing_ = nullptr;
                });
            return std::make_shared<Task>(std::move(task), timed->timing, timer_);
        }

    private:
        std::shared_ptr<SpeechRecognizer> inner_;
        CaptionTimer& timer_;
    };

    std::shared_ptr<SpeechRecognitionService> inner_;
    std::vector<CaptionTime>& times_;
    // Main actor only.
    std::shared_ptr<Timing> completing_;
    bool byDeadline_ = false;
    bool captionedBefore_ = false;
};

// The median and the largest of the values, 0 for none.
inline std::pair<double, double> medianAndMax(std::vector<double> values)
{
    if (values.empty())
        return {0, 0};
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return {n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2, values.back()};
}

}  // namespace parlaro::bench
