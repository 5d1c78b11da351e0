#pragma once

#include "platform/SpeechAnalyzer.h"

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace parlaro::sim {

// A transcription module whose results the test feeds, ends or fails.
class SimTranscriber final : public Transcriber {
public:
    explicit SimTranscriber(TranscriberModule module);

    const TranscriberModule& module() const override { return module_; }
    // Throws std::logic_error when taken twice.
    rt::AsyncStream<TranscriberResult> results() override;

    // False once the results have ended or nobody listens.
    bool yield(std::string text, bool isFinal);
    void finishResults();
    void failResults(std::exception_ptr error);
    template <class E>
    void failResults(E error)
    {
        failResults(std::make_exception_ptr(std::move(error)));
    }
    // The consumer dropped the results before they ended.
    bool resultsDropped() const { return *dropped_; }

    // Final results the analyzer produces when it finalizes through the end of
    // the input, before the results end.
    std::vector<TranscriberResult> finalsAtFinish;

private:
    TranscriberModule module_;
    std::optional<rt::AsyncStream<TranscriberResult>> stream_;
    rt::AsyncStream<TranscriberResult>::Continuation continuation_;
    std::shared_ptr<bool> dropped_ = std::make_shared<bool>(false);
};

// An analyzer that records what it is given. Its input is read by a task of
// its own from start on; start, finalize and the finishing calls take the
// virtual time and fail as set up. Finishing ends every module's results.
class SimSpeechAnalyzer final : public SpeechAnalyzer, public std::enable_shared_from_this<SimSpeechAnalyzer> {
public:
    explicit SimSpeechAnalyzer(std::vector<std::shared_ptr<Transcriber>> modules);

    rt::Async<void> start(rt::AsyncStream<AnalyzerInput> input) override;
    rt::Async<void> finalize(std::optional<MediaTime> through) override;
    rt::Async<void> finalizeAndFinishThroughEndOfInput() override;
    rt::Async<void> cancelAndFinishNow() override;

    const std::vector<std::shared_ptr<Transcriber>>& modules() const { return modules_; }
    std::shared_ptr<SimTranscriber> transcriber(std::size_t index = 0) const;

    // Set-up, copied from the factory at creation.
    double startDelay = 0;
    std::exception_ptr startError;
    std::exception_ptr finalizeError;
    std::exception_ptr finishError;
    // Runs when finalize is asked, with its time, before it returns.
    std::function<void(std::optional<MediaTime>)> onFinalize;

    // What happened.
    int startCalls = 0;
    std::vector<AnalyzerInput> inputs;
    bool inputEnded = false;
    std::vector<std::optional<MediaTime>> finalizeCalls;
    int finishCalls = 0;
    int cancelCalls = 0;

    // Frames of all inputs read so far.
    std::size_t framesRead() const;

private:
    void endResults();

    std::vector<std::shared_ptr<Transcriber>> modules_;
};

// The factory of simulated modules and analyzers; keeps every one it made.
// Main actor only.
class SimSpeechAnalyzers final : public SpeechAnalyzers {
public:
    std::shared_ptr<Transcriber> makeTranscriber(const TranscriberModule& module) override;
    std::shared_ptr<SpeechAnalyzer> makeAnalyzer(std::vector<std::shared_ptr<Transcriber>> modules) override;
    rt::Async<std::optional<AudioFormat>>
    bestAvailableAudioFormat(std::vector<std::shared_ptr<Transcriber>> modules) override;

    std::optional<AudioFormat> bestFormat = AudioFormat{16000, 1, SampleType::int16, true};
    double bestFormatDelay = 0;
    // Given to each analyzer made from now on.
    double startDelay = 0;
    std::exception_ptr startError;
    std::exception_ptr finishError;

    std::vector<std::shared_ptr<SimTranscriber>> transcribers;
    std::vector<std::shared_ptr<SimSpeechAnalyzer>> analyzers;
    int bestFormatQueries = 0;
};

}  // namespace parlaro::sim
