#pragma once

#include "runtime/AsyncStream.h"

#include <optional>
#include <string>

namespace parlaro {

// The two transcribers of the newer speech stack.
enum class TranscriberKind {
    speech,     // general speech transcription
    dictation,  // the dictation transcriber, which serves more locales
};

// Presets of a transcriber. A module built from a preset names the model a
// download or a model check is about; a running session builds its module
// from reporting options instead.
enum class TranscriberPreset {
    progressiveTranscription,  // speech
    progressiveLongDictation,  // dictation
};

// How eagerly a transcriber reports.
struct ReportingOptions {
    // Interim results that later results replace.
    bool volatileResults = false;
    // Results as early as possible, at some cost in accuracy.
    bool fastResults = false;

    bool operator==(const ReportingOptions&) const = default;
};

// One transcription module as the analyzer is asked to run it: no content
// hints, transcription options or attribute options are ever given.
struct TranscriberModule {
    TranscriberKind kind = TranscriberKind::speech;
    // BCP-47 identifier, "en-US".
    std::string locale;
    std::optional<TranscriberPreset> preset;
    ReportingOptions reporting;

    bool operator==(const TranscriberModule&) const = default;

    static TranscriberModule withPreset(TranscriberKind kind, std::string locale, TranscriberPreset preset)
    {
        return TranscriberModule{kind, std::move(locale), preset, ReportingOptions{}};
    }
    static TranscriberModule withReporting(TranscriberKind kind, std::string locale, ReportingOptions reporting)
    {
        return TranscriberModule{kind, std::move(locale), std::nullopt, reporting};
    }
};

// One result of a transcriber: the plain characters of its text and whether
// it is final.
struct TranscriberResult {
    std::string text;
    bool isFinal = false;

    TranscriberResult() = default;
    TranscriberResult(std::string text, bool isFinal) : text(std::move(text)), isFinal(isFinal) {}
    bool operator==(const TranscriberResult&) const = default;
};

// A live transcription module handed to an analyzer. Its results arrive in
// order; the stream ends when the analyzer finishes and fails when the
// transcription does.
class Transcriber {
public:
    virtual ~Transcriber() = default;

    virtual const TranscriberModule& module() const = 0;
    // The stream of this module's results; taken once. Dropping it tells the
    // module nobody listens any more.
    virtual rt::AsyncStream<TranscriberResult> results() = 0;
};

}  // namespace parlaro
