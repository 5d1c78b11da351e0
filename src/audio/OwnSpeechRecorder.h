#pragma once

#include "audio/EchoGuard.h"
#include "audio/MicCapture.h"
#include "audio/OwnSpeechRecording.h"
#include "audio/RecordingTranscript.h"
#include "runtime/Uuid.h"
#include "speech/RecognitionMode.h"
#include "speech/RecognitionSession.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace parlaro {

// Records and recognizes the user's own speech, one recording per press: the
// microphone feeds a fresh recognition session, and the text comes back as
// live text, as sentences finished while the key is held, and as the final
// text on release. When sentences are sent while held, the microphone passes
// through the echo guard so that the other party's voice from the speakers is
// not taken for the user's.
//
// Each recording carries a generation token; results, errors and microphone
// failures of an older one are dropped. Held by shared_ptr; runs on the main
// actor except for the microphone's buffers.
class OwnSpeechRecorder final : public OwnSpeechRecording, public std::enable_shared_from_this<OwnSpeechRecorder> {
public:
    using SessionFactory =
        std::function<std::shared_ptr<RecognitionSession>(const std::string& locale, SpeechEngine, RecognitionMode)>;

    // `makeSession` stands in front of the session factory; by default the
    // engine's own session.
    explicit OwnSpeechRecorder(std::shared_ptr<EchoGuard> echo, SessionFactory makeSession = {});

    rt::Async<void> start(Request request) override;
    void stopCapture() override;
    rt::Async<std::string> finish() override;
    rt::Async<void> cancel() override;

    const std::shared_ptr<MicCapture>& mic() const { return mic_; }
    const std::shared_ptr<EchoGuard>& echo() const { return echo_; }
    bool gated() const { return gated_; }
    const std::shared_ptr<RecognitionSession>& transcriber() const { return transcriber_; }
    const rt::Uuid& generation() const { return generation_; }

private:
    using TextHandler = std::function<void(const std::string&)>;

    static void handleResult(const std::weak_ptr<OwnSpeechRecorder>& recorder, const std::string& text, bool isFinal,
                             const rt::Uuid& generation, RecordingTranscript& transcript, const TextHandler& onLiveText,
                             const TextHandler& onSentence);
    static void handleError(const std::weak_ptr<OwnSpeechRecorder>& recorder, const ModuleError& error,
                            const rt::Uuid& generation, const TextHandler& onErrorText);
    static void handleMicFailure(const std::weak_ptr<OwnSpeechRecorder>& recorder, const std::string& message,
                                 const rt::Uuid& generation, const TextHandler& onErrorText);
    // On the microphone's thread, with what start captured: it reads no
    // field of the recorder.
    static void handleBuffer(bool gated, RecognitionSession& session, EchoGuard& echo,
                             const std::shared_ptr<PcmBuffer>& buffer, std::optional<double> start);

    std::shared_ptr<MicCapture> mic_;
    std::shared_ptr<EchoGuard> echo_;
    SessionFactory makeSession_;
    bool gated_ = false;
    std::shared_ptr<RecognitionSession> transcriber_;
    std::shared_ptr<RecordingTranscript> transcript_;
    rt::Uuid generation_;
};

}  // namespace parlaro
