#pragma once

#include "audio/AudioDevice.h"
#include "audio/OwnSpeechRecording.h"
#include "model/ModelField.h"
#include "runtime/Continuation.h"
#include "runtime/Observable.h"
#include "runtime/Task.h"
#include "runtime/Time.h"
#include "runtime/Uuid.h"
#include "speech/CallLanguage.h"
#include "speech/SpeechEngine.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace parlaro {

// How a sentence meets the hold: outside one it is refused while a
// recording or a hold runs; within one it is a sentence of the running
// hold, which may play while it records.
enum class HoldPlay { outsideHold, withinHold };

// One hold of the talk control after the model accepted its press: the
// recorder's start, the user speaking, the release or the cancel, and the
// recognized text handed back to the model to be translated and played,
// sentence by sentence while it records when the press asked for that.
//
// The model owns it and feeds it: the hold shows itself in the model's
// fields it is given (and stores into them through the model's writer), and
// sends what was said through `send`. Its tasks hold it weakly and stop at
// the first step after it is gone; the model's release ends it.
//
// Main actor only. Owned through std::shared_ptr.
class HoldToTalk : public std::enable_shared_from_this<HoldToTalk> {
public:
    // Keeps the process from being put to sleep while a hold runs.
    using ActivityToken = std::shared_ptr<void>;

    struct Feeds {
        // The model's fields the hold shows itself in.
        ModelField<bool>& isHoldingToTalk;
        ModelField<bool>& isRecording;
        ModelField<std::string>& mePartial;
        ModelField<std::string>& status;
        ModelField<std::optional<std::string>>& errorMessage;
        // What it reads of the call.
        const ModelField<CallLanguage>& myLanguage;
        const ModelField<CallLanguage>& theirLanguage;
        const ModelField<bool>& originalVoiceOn;
        const ModelField<bool>& micAuthorized;
        std::shared_ptr<OwnSpeechRecording> recorder;
        // Asks for microphone access.
        std::function<rt::Async<void>()> requestMicPermission;
        // Makes the recognized text the draft, translates it and, unless it
        // is no longer current, plays it.
        std::function<rt::Async<void>(std::string text, HoldPlay play, std::function<bool()> isStillCurrent)> send;
        // What was heard before a failure, kept as a draft to send by hand.
        std::function<void(std::string heard)> keepDraft;
        std::function<void()> endFreeListening;
        std::function<ActivityToken(const std::string& reason)> beginActivity;
        std::function<void(const ActivityToken&)> endActivity;
    };

    // The recorder start has this long from the moment the hold task asks for it.
    static constexpr double recorderStartSeconds = 12.0;
    // Recognition must have finished this long after the release.
    static constexpr double recognitionFinishSeconds = 12.0;

    // `owner` hears every change of the fields below, as a model's own do;
    // `write` stores into them and into the fields of the feeds.
    HoldToTalk(Feeds feeds, FieldWriter write, rt::ObservationHub* owner = nullptr);
    HoldToTalk(const HoldToTalk&) = delete;
    HoldToTalk& operator=(const HoldToTalk&) = delete;

    // From the press the recorder is being started, and the recognized text
    // is worked on after the release, until the hold task ends.
    ModelField<bool> isStartingRecording;
    // The token of the latest press; results of another are dropped.
    ModelField<rt::Uuid> holdID;
    // Sentences waiting to be sent while the key is held, each with its hold.
    struct HeldSentence {
        std::string text;
        rt::Uuid hold;
        bool operator==(const HeldSentence&) const = default;
    };
    ModelField<std::vector<HeldSentence>> heldSentences;
    // The sentences of this hold sent or queued so far.
    ModelField<std::int64_t> heldSentenceCount;
    // What the press asked for: send each sentence as it is finished.
    ModelField<bool> sendsWhileHolding;
    // Without that: the pieces recognized so far, joined at the release.
    ModelField<std::vector<std::string>> heldUtterance;

    // A press the model accepted: a hold starts with the recorder on that
    // input, in that engine.
    void start(SpeechEngine engine, std::optional<AudioObjectId> input, bool sendWhileHolding);
    // The release.
    void release();
    void cancel();
    // The status while the recorder runs, by what the press asked for.
    std::string recordingStatus() const;
    // Sentences of a hold are still being translated and played.
    bool isSending() const { return static_cast<bool>(sender_); }

    // Joins recognized pieces with one blank between two pieces unless a CJK
    // character meets the join; blank pieces are skipped.
    static std::string joinRecognizedText(const std::vector<std::string>& pieces);

private:
    friend struct ModelTestAccess;

    // What a hold keeps from its press.
    struct Press {
        rt::Uuid hold;
        SpeechEngine engine;
        std::optional<AudioObjectId> input;
        ActivityToken activity;
    };
    static rt::Async<void> run(std::weak_ptr<HoldToTalk> weak, Press press,
                               std::function<void(const ActivityToken&)> endActivity);
    // Up to the wait for the release; true when the recorder runs.
    rt::Async<bool> prepare(Press press);
    // From the release (or the cancel, with none) to the end of the hold task.
    rt::Async<void> finish(Press press, std::optional<rt::Instant> released);
    rt::Async<void> startRecorder(Press press, bool sendWhileHolding);
    // A failed, timed-out or cancelled recorder start or finish.
    rt::Async<void> failStage(std::exception_ptr error, rt::Uuid hold);
    // Drops the recording; never fails, even in a cancelled task.
    rt::Async<void> cancelRecorder();
    void reportTooShort(const rt::Uuid& hold);
    void endTask(const ActivityToken& activity);
    bool isStillHeld(const rt::Uuid& hold) const;
    // The recorder's callbacks for one hold; results of another hold are dropped.
    void showPartial(const std::string& text, const rt::Uuid& hold);
    void receiveSentence(const std::string& text, const rt::Uuid& hold);
    void recordingFailed(const std::string& text, const rt::Uuid& hold);
    void queueSentence(const std::string& text, const rt::Uuid& hold);
    // One sentence after another until the queue is empty.
    rt::Async<void> sendSentences();

    Feeds feeds_;
    FieldWriter write_;
    rt::TaskHandle<> task_;
    // Resumed once with the release instant, or none when the hold was cancelled.
    std::optional<rt::Continuation<std::optional<rt::Instant>>> release_;
    rt::TaskHandle<> sender_;
};

}  // namespace parlaro
