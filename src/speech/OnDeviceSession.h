#pragma once

#include "platform/AudioConverter.h"
#include "platform/AudioFormat.h"
#include "platform/SpeechRecognizer.h"
#include "runtime/Continuation.h"
#include "runtime/WorkItem.h"
#include "speech/HeldSentences.h"
#include "speech/RecognitionMode.h"
#include "speech/RecognitionSession.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace parlaro {

// Recognition with the system recognizer, forced to run on this computer.
//
// The recognizer works on requests: one request takes audio until its audio
// is ended, and its task then delivers a final result. The session runs a
// chain of requests numbered by a generation counter; only the newest takes
// audio while older ones may still be finishing. A new request opens after
// every final result, after a pause in continuous mode, and after a
// recognition error, with delays that grow with repeated failures.
//
// A press is one utterance to its owner, but the session ends its request
// wherever the speaker paused for a sentence's length and goes on in a new
// one: the recognizer's end-of-utterance search, which grows with the
// utterance, then runs while the speaker goes on, and the release waits
// only for the words after the last pause; each piece is also searched as
// a whole rather than read off a live text that ran on over the pause. The
// texts of those requests stand before the live text, and each final
// result carries them. People pause inside sentences as often as between
// them, so a piece's end stays open until the words after it are known:
// the recognizer tells from both sides whether a sentence ended there (a
// full stop) or goes on into the next piece (joined without a stop or a
// capital). One that cannot tell puts a stop at every such pause. With
// sentences sent while the key is held, the pieces before a sentence's end
// are sent as soon as two revisions of the first two words after it tell
// so.
//
// Must be owned by a std::shared_ptr: delayed work holds it weakly, so a
// released session makes that work do nothing. Release cancels nothing by
// itself; owners call finish() or cancel() first.
class OnDeviceSession final : public RecognitionSession, public std::enable_shared_from_this<OnDeviceSession> {
public:
    // Throws SR-2 unless `recognition` can recognize `locale` on this
    // machine; the model is the system's to install, so the text says where.
    // The recognizer made for the check is released when it is done.
    static void requireOnDeviceModel(SpeechRecognitionService* recognition, const std::string& locale);

    OnDeviceSession(std::string locale, RecognitionMode mode, std::shared_ptr<SpeechRecognitionService> recognition);

    rt::Async<void> start(ResultHandler onResult, FailureHandler onFailure) override;
    void nameInput(std::string input) override { input_ = std::move(input); }
    void append(std::shared_ptr<const PcmBuffer> buffer) override;
    rt::Async<void> finish() override;
    rt::Async<void> cancel() override;

    const std::string& locale() const { return locale_; }
    RecognitionMode mode() const { return mode_; }

    // A buffer at least this loud counts as voice for the pause commit.
    static constexpr float voiceLevel = 0.01f;
    // Delays before reopening a request after the 1st, 2nd, ... counted error.
    static constexpr double restartDelays[] = {0.0, 0.5, 1.5, 3.0, 5.0};
    static constexpr double quietRestartDelay = 0.3;
    // The ninth counted error in a row ends the session's requests.
    static constexpr std::int64_t maxFailures = 8;
    // How long a request whose audio has ended may take for its final
    // result; then its last partial text stands in for it. While the
    // recognizer is still at work on that result (it searches the audio
    // again), the wait goes on, looked at every finishingCheck, up to
    // longestFinalWait in all: a result searched for carefully is not
    // thrown away for the careless one. A press gives recognition 12 s
    // from its release before it keeps the text as a draft and sends
    // nothing, so even a recognizer far behind a starved computer answers
    // with its last text before that.
    static constexpr double finalFallback = 3.0;
    static constexpr double finishingCheck = 0.1;
    static constexpr double longestFinalWait = 8.0;
    // A caption of the other party waits longer while listening goes on:
    // nobody waits on it, and a starved computer's decoder can be that far
    // behind; cut at its partial text it would lose the sentence's end.
    static constexpr double longestCaptionWait = 30.0;
    static constexpr double firstPauseCheck = 0.65;
    static constexpr double pauseCheckInterval = 0.1;
    static constexpr double pauseSilence = 0.3;
    static constexpr double longestUncommitted = 2.5;
    // A press's request ends at a pause this long (see above), never in
    // the middle of words however long they go on.
    static constexpr double sentencePause = 0.6;

private:
    static rt::Async<SpeechAuthorizationStatus> authorize(std::shared_ptr<SpeechRecognitionService> recognition);
    void startRequest();
    // Brings a buffer into targetFormat_; none when it cannot. Under the lock.
    std::optional<PcmBuffer> convert(const PcmBuffer& buffer);
    void handleResult(std::int64_t generation, const std::optional<SpeechRecognitionResult>& result,
                      const std::optional<DomainError>& error);
    void completeGeneration(std::int64_t generation, std::optional<std::string> text);
    void expireOlderTasks(std::int64_t before);
    void expireAfter(std::int64_t generation, double after, double waited);
    void schedulePauseCheck(std::int64_t generation, std::uint64_t since, double after);
    void checkPause(std::int64_t generation, std::uint64_t since);
    void scheduleRestart(std::int64_t generation, double after);
    void beginFinish(rt::Continuation<void> waiter);
    void resumeFinishing();
    void shutDown();
    void deliver(const std::string& text, bool isFinal);
    // A press: ends the current request at a pause, its text kept
    // for the next final result.
    void commitPiece(std::int64_t generation);
    // The texts of the pieces before `generation` and `text`, joined.
    std::string withPieces(std::int64_t before, const std::string& text) const;
    // Held mode: whether every piece before `generation` has its final text.
    bool piecesBeforeDone(std::int64_t generation) const;
    // Held mode: the pieces before `generation` joined with `text`, which
    // they are sent with; they are gone from the pieces after.
    std::string takePiecesBefore(std::int64_t generation, const std::string& text);
    // Held mode: sends the pieces before `generation` as a sentence once the
    // words `generation` heard after their pause show that one ended there.
    void sendPiecesBefore(std::int64_t generation);
    // Delivers every run of finished pieces that a final result ends, and
    // all of them once the last request of a finish is done.
    void deliverPieces();
    void fail(const ModuleError& error);
    std::int64_t currentGeneration();

    const std::string locale_;
    const RecognitionMode mode_;
    const std::shared_ptr<SpeechRecognitionService> recognition_;
    std::string input_;

    // Shared with append() on audio threads.
    mutable std::mutex lock_;
    std::shared_ptr<SpeechRecognizer> recognizer_;
    std::shared_ptr<SpeechAudioBufferRecognitionRequest> request_;
    std::int64_t generation_ = 0;
    bool stopped_ = false;
    // A failure was reported and no request will open again: audio has
    // nowhere to go.
    bool failed_ = false;
    bool currentHasAudio_ = false;
    std::uint64_t lastVoice_ = 0;  // uptime in nanoseconds
    // The first voice since the newest request opened; 0 before.
    std::uint64_t firstVoice_ = 0;
    std::optional<AudioFormat> targetFormat_;
    std::optional<AudioConverter> converter_;

    // Main actor only.
    std::map<std::int64_t, std::shared_ptr<SpeechRecognitionTask>> tasks_;
    std::map<std::int64_t, std::string> texts_;
    std::map<std::int64_t, HeldSentences> held_;
    // A press: the requests ended at a pause (and the final results
    // that came after one, until all before them are in), by generation.
    struct Piece {
        std::string text;
        bool done = false;
        bool atPause = true;
    };
    // When each request that took audio first and last heard a voice
    // (uptime in nanoseconds, 0 for none): the length of the pause between
    // two pieces weighs in whether a sentence ended there.
    struct Voiced {
        std::uint64_t first = 0;
        std::uint64_t last = 0;
    };
    Voiced voicedIn(std::int64_t generation) const;
    // What the newest request heard so far; under the lock.
    Voiced currentVoiced() const;
    double pauseBetween(std::int64_t before, std::int64_t after) const;
    std::map<std::int64_t, Voiced> voiced_;
    std::map<std::int64_t, Piece> pieces_;
    // Held mode: the request whose live text last read as a sentence's end
    // after the pieces before it, and the two words that did.
    std::optional<std::pair<std::int64_t, std::string>> breakSeen_;
    // The request whose pause is watched, and when the newest opened.
    std::int64_t watched_ = 0;
    std::uint64_t openedAt_ = 0;
    // The session's recognizer, for joining pieces on the main actor.
    std::shared_ptr<SpeechRecognizer> joiner_;
    ResultHandler onResult_;
    FailureHandler onFailure_;
    rt::WorkItem pauseCommit_;
    std::int64_t failures_ = 0;
    // Every finish() that waits for the last results.
    std::vector<rt::Continuation<void>> finishing_;
    bool ending_ = false;
};

}  // namespace parlaro
