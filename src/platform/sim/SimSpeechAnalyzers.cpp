#include "platform/sim/SimSpeechAnalyzers.h"

#include "platform/sim/SimDelay.h"

#include <stdexcept>

namespace parlaro::sim {

SimTranscriber::SimTranscriber(TranscriberModule module)
    : module_(std::move(module)), continuation_([this] {
          auto [stream, continuation] = rt::AsyncStream<TranscriberResult>::make();
          stream_.emplace(std::move(stream));
          return continuation;
      }())
{
    continuation_.setOnTermination([dropped = dropped_](rt::StreamTermination how) {
        if (how == rt::StreamTermination::cancelled)
            *dropped = true;
    });
}

rt::AsyncStream<TranscriberResult> SimTranscriber::results()
{
    if (!stream_)
        throw std::logic_error("results taken twice");
    auto stream = std::move(*stream_);
    stream_.reset();
    return stream;
}

bool SimTranscriber::yield(std::string text, bool isFinal)
{
    return continuation_.yield(TranscriberResult(std::move(text), isFinal));
}

void SimTranscriber::finishResults()
{
    continuation_.finish();
}

void SimTranscriber::failResults(std::exception_ptr error)
{
    continuation_.finish(std::move(error));
}

SimSpeechAnalyzer::SimSpeechAnalyzer(std::vector<std::shared_ptr<Transcriber>> modules) : modules_(std::move(modules))
{
}

std::shared_ptr<SimTranscriber> SimSpeechAnalyzer::transcriber(std::size_t index) const
{
    return index < modules_.size() ? std::dynamic_pointer_cast<SimTranscriber>(modules_[index]) : nullptr;
}

std::size_t SimSpeechAnalyzer::framesRead() const
{
    std::size_t frames = 0;
    for (const auto& input : inputs)
        frames += input.buffer ? input.buffer->frameLength() : 0;
    return frames;
}

rt::Async<void> SimSpeechAnalyzer::start(rt::AsyncStream<AnalyzerInput> input)
{
    ++startCalls;
    auto reader = std::make_shared<rt::AsyncStream<AnalyzerInput>>(std::move(input));
    std::weak_ptr<SimSpeechAnalyzer> weak = weak_from_this();
    rt::spawn([reader, weak]() -> rt::Async<void> {
        while (auto next = co_await reader->next()) {
            auto self = weak.lock();
            if (!self)
                co_return;
            self->inputs.push_back(std::move(*next));
        }
        if (auto self = weak.lock())
            self->inputEnded = true;
    });
    auto delay = startDelay;
    auto error = startError;
    co_await simDelay(delay);
    if (error)
        std::rethrow_exception(error);
}

rt::Async<void> SimSpeechAnalyzer::finalize(std::optional<MediaTime> through)
{
    finalizeCalls.push_back(through);
    if (onFinalize)
        onFinalize(through);
    if (finalizeError)
        std::rethrow_exception(finalizeError);
    co_return;
}

void SimSpeechAnalyzer::endResults()
{
    for (std::size_t i = 0; i < modules_.size(); ++i)
        if (auto module = transcriber(i))
            module->finishResults();
}

rt::Async<void> SimSpeechAnalyzer::finalizeAndFinishThroughEndOfInput()
{
    ++finishCalls;
    if (finishError)
        std::rethrow_exception(finishError);
    for (std::size_t i = 0; i < modules_.size(); ++i) {
        if (auto module = transcriber(i)) {
            for (const auto& result : module->finalsAtFinish)
                module->yield(result.text, result.isFinal);
        }
    }
    endResults();
    co_return;
}

rt::Async<void> SimSpeechAnalyzer::cancelAndFinishNow()
{
    ++cancelCalls;
    endResults();
    co_return;
}

std::shared_ptr<Transcriber> SimSpeechAnalyzers::makeTranscriber(const TranscriberModule& module)
{
    auto transcriber = std::make_shared<SimTranscriber>(module);
    transcribers.push_back(transcriber);
    return transcriber;
}

std::shared_ptr<SpeechAnalyzer> SimSpeechAnalyzers::makeAnalyzer(std::vector<std::shared_ptr<Transcriber>> modules)
{
    auto analyzer = std::make_shared<SimSpeechAnalyzer>(std::move(modules));
    analyzer->startDelay = startDelay;
    analyzer->startError = startError;
    analyzer->finishError = finishError;
    analyzers.push_back(analyzer);
    return analyzer;
}

rt::Async<std::optional<AudioFormat>>
SimSpeechAnalyzers::bestAvailableAudioFormat(std::vector<std::shared_ptr<Transcriber>>)
{
    ++bestFormatQueries;
    auto format = bestFormat;
    co_await simDelay(bestFormatDelay);
    co_return format;
}

}  // namespace parlaro::sim
