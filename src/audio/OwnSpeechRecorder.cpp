#include "audio/OwnSpeechRecorder.h"

#include "audio/AudioDevices.h"
#include "platform/AudioSelectors.h"

#include "runtime/Error.h"
#include "runtime/UuidSource.h"
#include "speech/RecognitionSessionFactory.h"

#include <utility>

namespace parlaro {

OwnSpeechRecorder::OwnSpeechRecorder(std::shared_ptr<EchoGuard> echo, SessionFactory makeSession)
    : mic_(std::make_shared<MicCapture>()), echo_(std::move(echo)), makeSession_(std::move(makeSession)),
      transcript_(std::make_shared<RecordingTranscript>()), generation_(rt::newUuid())
{
    if (!makeSession_)
        makeSession_ = [](const std::string& locale, SpeechEngine engine, RecognitionMode mode) {
            return makeRecognitionSession(locale, engine, mode);
        };
}

rt::Async<void> OwnSpeechRecorder::start(Request request)
{
    std::weak_ptr<OwnSpeechRecorder> weak = weak_from_this();
    gated_ = request.held;
    const rt::Uuid generation = rt::newUuid();
    generation_ = generation;
    auto transcript = std::make_shared<RecordingTranscript>();
    transcript_ = transcript;

    auto session =
        makeSession_(request.locale, request.engine, request.held ? RecognitionMode::held : RecognitionMode::utterance);
    transcriber_ = session;
    // The microphone the press records from, as the recognizer knows it
    // across runs: its UID, not its id of this run.
    if (auto input = request.deviceID ? request.deviceID : AudioDevices::defaultDeviceID(true))
        session->nameInput(AudioDevices::stringProperty(*input, AudioSelectors::deviceUID).value_or(""));
    co_await session->start(
        [weak, generation, transcript, onLiveText = request.onLiveText,
         onSentence = request.onSentence](const std::string& text, bool isFinal) {
            handleResult(weak, text, isFinal, generation, *transcript, onLiveText, onSentence);
        },
        [weak, generation, onErrorText = request.onErrorText](const ModuleError& error) {
            handleError(weak, error, generation, onErrorText);
        });

    rt::checkCancellation();
    auto self = weak.lock();
    if (!self || self->generation_ != generation || (request.isPressCurrent && !request.isPressCurrent()))
        throw rt::CancellationError();

    self->echo_->discardWaiting();
    // The buffer callback keeps what it needs: the recorder's fields may
    // change under a later press while this microphone still runs.
    self->mic_->start(
        request.deviceID,
        [gated = self->gated_, session, echo = self->echo_](std::shared_ptr<PcmBuffer> buffer,
                                                            std::optional<double> start) {
            handleBuffer(gated, *session, *echo, buffer, start);
        },
        [weak, generation, onErrorText = request.onErrorText](const std::string& message) {
            handleMicFailure(weak, message, generation, onErrorText);
        });
}

void OwnSpeechRecorder::stopCapture()
{
    mic_->stop();
    if (!gated_)
        return;
    // What the gate still holds was spoken before the release.
    auto released = echo_->flush();
    if (transcriber_) {
        for (auto& buffer : released)
            transcriber_->append(std::move(buffer));
    }
}

rt::Async<std::string> OwnSpeechRecorder::finish()
{
    std::weak_ptr<OwnSpeechRecorder> weak = weak_from_this();
    stopCapture();
    const rt::Uuid generation = generation_;
    auto transcript = transcript_;
    auto session = transcriber_;
    transcript->finishing = true;
    if (session)
        co_await session->finish();

    rt::checkCancellation();
    auto self = weak.lock();
    if (!self || self->generation_ != generation)
        throw rt::CancellationError();
    self->transcriber_.reset();
    co_return transcript->text();
}

rt::Async<void> OwnSpeechRecorder::cancel()
{
    mic_->stop();
    echo_->discardWaiting();
    generation_ = rt::newUuid();
    auto session = std::exchange(transcriber_, nullptr);
    transcript_ = std::make_shared<RecordingTranscript>();
    if (session)
        rt::spawn([session]() -> rt::Async<void> { co_await session->cancel(); });
    co_return;
}

void OwnSpeechRecorder::handleResult(const std::weak_ptr<OwnSpeechRecorder>& recorder, const std::string& text,
                                     bool isFinal, const rt::Uuid& generation, RecordingTranscript& transcript,
                                     const TextHandler& onLiveText, const TextHandler& onSentence)
{
    auto self = recorder.lock();
    if (!self || self->generation_ != generation)
        return;
    if (isFinal) {
        transcript.partial.clear();
        if (!transcript.finishing) {
            // Sent while held: handed on, never part of the final text.
            const std::string sentence = RecordingTranscript::sentence(text);
            if (!sentence.empty() && onSentence)
                onSentence(sentence);
        } else {
            transcript.finalText += text;
        }
    } else {
        transcript.partial = text;
    }
    if (onLiveText)
        onLiveText(transcript.text());
}

void OwnSpeechRecorder::handleError(const std::weak_ptr<OwnSpeechRecorder>& recorder, const ModuleError& error,
                                    const rt::Uuid& generation, const TextHandler& onErrorText)
{
    auto self = recorder.lock();
    if (self && self->generation_ == generation && onErrorText)
        onErrorText(error.localizedDescription());
}

void OwnSpeechRecorder::handleMicFailure(const std::weak_ptr<OwnSpeechRecorder>& recorder, const std::string& message,
                                         const rt::Uuid& generation, const TextHandler& onErrorText)
{
    auto self = recorder.lock();
    if (self && self->generation_ == generation && onErrorText)
        onErrorText(message);
}

void OwnSpeechRecorder::handleBuffer(bool gated, RecognitionSession& session, EchoGuard& echo,
                                     const std::shared_ptr<PcmBuffer>& buffer, std::optional<double> start)
{
    if (!gated) {
        session.append(buffer);
        return;
    }
    for (auto& released : echo.push(*buffer, start, FarEndActivity::hostTime()))
        session.append(std::move(released));
}

}  // namespace parlaro
