#pragma once

#include "platform/AudioFormat.h"
#include "platform/PcmBuffer.h"
#include "platform/TranscriberModule.h"
#include "runtime/AsyncStream.h"
#include "runtime/Task.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace parlaro {

// A point on the analyzer's media timeline: value / timescale seconds.
struct MediaTime {
    std::int64_t value = 0;
    std::int32_t timescale = 1;

    MediaTime() = default;
    MediaTime(std::int64_t value, std::int32_t timescale) : value(value), timescale(timescale) {}
    double seconds() const { return timescale == 0 ? 0.0 : static_cast<double>(value) / timescale; }
    bool operator==(const MediaTime&) const = default;
};

// One buffer of audio for the analyzer, in the format the analyzer was
// promised. Without a start time it follows the previous buffer directly.
struct AnalyzerInput {
    std::shared_ptr<const PcmBuffer> buffer;
    std::optional<MediaTime> bufferStartTime;

    AnalyzerInput() = default;
    explicit AnalyzerInput(std::shared_ptr<const PcmBuffer> buffer, std::optional<MediaTime> start = std::nullopt)
        : buffer(std::move(buffer)), bufferStartTime(start)
    {
    }
};

// The speech analyzer: reads audio from an input stream and runs its modules
// over it; each module reports through its own results stream.
class SpeechAnalyzer {
public:
    virtual ~SpeechAnalyzer() = default;

    // Starts reading `input`; returns once the analysis runs. Throws the
    // platform's error when it cannot start.
    virtual rt::Async<void> start(rt::AsyncStream<AnalyzerInput> input) = 0;
    // Makes the modules turn everything up to `through` (everything queued
    // when absent) into final results.
    virtual rt::Async<void> finalize(std::optional<MediaTime> through) = 0;
    // Waits for the end of the input, finalizes everything and ends the
    // modules' results.
    virtual rt::Async<void> finalizeAndFinishThroughEndOfInput() = 0;
    // Stops at once and ends the modules' results.
    virtual rt::Async<void> cancelAndFinishNow() = 0;
};

// Makes the modules and analyzers of the newer speech stack.
class SpeechAnalyzers {
public:
    virtual ~SpeechAnalyzers() = default;

    virtual std::shared_ptr<Transcriber> makeTranscriber(const TranscriberModule& module) = 0;
    virtual std::shared_ptr<SpeechAnalyzer> makeAnalyzer(std::vector<std::shared_ptr<Transcriber>> modules) = 0;
    // The format the modules work best with, or none when they name none.
    virtual rt::Async<std::optional<AudioFormat>>
    bestAvailableAudioFormat(std::vector<std::shared_ptr<Transcriber>> modules) = 0;
};

}  // namespace parlaro
