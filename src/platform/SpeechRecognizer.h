#pragma once

#include "platform/AudioFormat.h"
#include "platform/PcmBuffer.h"
#include "runtime/Error.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace parlaro {

// Whether the user lets this program use speech recognition.
enum class SpeechAuthorizationStatus { notDetermined, denied, restricted, authorized };

// What kind of speech a request carries, so a recognizer can tune itself.
enum class SpeechTaskHint { unspecified, dictation };

// A stretch of text in UTF-16 code units, the unit recognizers count in.
struct TextRange {
    std::int64_t location = 0;
    std::int64_t length = 0;

    bool operator==(const TextRange&) const = default;
};

// One recognized word of a transcription and where it sits in the text.
struct TranscriptionSegment {
    std::string substring;
    TextRange substringRange;

    bool operator==(const TranscriptionSegment&) const = default;
};

struct Transcription {
    std::string formattedString;
    std::vector<TranscriptionSegment> segments;

    bool operator==(const Transcription&) const = default;
};

// UTF-16 code units of a UTF-8 text (an invalid byte counts as one unit).
std::int64_t utf16Length(std::string_view text);

// A transcription of `text` whose segments are `words`, each found in order
// after the previous one; a word that does not occur is left out.
Transcription makeTranscription(std::string text, const std::vector<std::string>& words);

// Whether English writes `word` with a capital wherever it stands: the
// pronoun and its contractions ("I", "I'm"), titles ("Mr"), days and months
// ("Monday", "Mondays", "March"; not "may", far more often the verb), and
// the names of people and places: words the system's list of American
// English words writes only with a capital ("Nicholas", "Chicago's";
// not "bill" or "mark", which it also has as ordinary words). Any case.
bool capitalizedInEnglish(std::string_view word);
// Reads that list, once a process, unless it has been (tens of
// milliseconds, longer in a debug build): an English recognizer does it on
// its own thread as it is made, so that neither its first caption nor the
// main thread waits for it.
void readEnglishWordList();
bool englishWordListRead();
// `text` as it reads going on inside a sentence: its first letter in lower
// case, unless its first word is one English capitalizes anywhere.
std::string withinSentence(const std::string& text, bool english);
// `text` as it reads beginning a sentence: its first letter in upper case.
std::string asSentenceStart(const std::string& text);

// One answer of a running recognition: the best hypothesis so far, or the
// committed text of the whole request when isFinal is set.
struct SpeechRecognitionResult {
    Transcription bestTranscription;
    bool isFinal = false;

    bool operator==(const SpeechRecognitionResult&) const = default;
};

// Audio for one recognition, fed in buffers until its audio is ended.
class SpeechAudioBufferRecognitionRequest {
public:
    struct Options {
        bool requiresOnDeviceRecognition = false;
        bool shouldReportPartialResults = true;
        bool addsPunctuation = false;
        SpeechTaskHint taskHint = SpeechTaskHint::unspecified;
        // Where the audio comes from ("far-end", "microphone"): a recognizer
        // that adapts to its input may keep what it learnt about one source
        // for its next request from the same source.
        std::string audioSource;

        bool operator==(const Options&) const = default;
    };

    SpeechAudioBufferRecognitionRequest() = default;
    SpeechAudioBufferRecognitionRequest(const SpeechAudioBufferRecognitionRequest&) = delete;
    SpeechAudioBufferRecognitionRequest& operator=(const SpeechAudioBufferRecognitionRequest&) = delete;
    virtual ~SpeechAudioBufferRecognitionRequest() = default;

    // Set before the request is handed to a recognition task.
    Options options;

    // The format the recognizer consumes without converting.
    virtual AudioFormat nativeAudioFormat() const = 0;
    // Copies the filled frames; callable from any thread. Buffers after
    // endAudio() are ignored.
    virtual void append(const PcmBuffer& buffer) = 0;
    // No more audio follows; the task then delivers its final result.
    virtual void endAudio() = 0;
};

// A running recognition of one request.
class SpeechRecognitionTask {
public:
    SpeechRecognitionTask() = default;
    SpeechRecognitionTask(const SpeechRecognitionTask&) = delete;
    SpeechRecognitionTask& operator=(const SpeechRecognitionTask&) = delete;
    virtual ~SpeechRecognitionTask() = default;

    // Stops recognizing; the result handler is not called afterwards.
    // Harmless when the task already ended.
    virtual void cancel() = 0;
    virtual bool isCancelled() const = 0;
    // Its audio ended, the task is still at work on the final result (a
    // recognizer that searches what it heard again before it answers), so
    // a deadline for that result is better spent waiting. Any thread.
    virtual bool isFinishing() const { return false; }
};

// A recognizer for one locale.
class SpeechRecognizer {
public:
    // Exactly one of the two is set. A task reports any number of partial
    // results, then either one final result or one error, and nothing after.
    using ResultHandler = std::function<void(const std::optional<SpeechRecognitionResult>& result,
                                             const std::optional<DomainError>& error)>;

    SpeechRecognizer() = default;
    SpeechRecognizer(const SpeechRecognizer&) = delete;
    SpeechRecognizer& operator=(const SpeechRecognizer&) = delete;
    virtual ~SpeechRecognizer() = default;

    virtual std::string locale() const = 0;
    // Whether this locale can be recognized without a network service.
    virtual bool supportsOnDeviceRecognition() const = 0;

    virtual std::shared_ptr<SpeechAudioBufferRecognitionRequest> makeRequest() = 0;
    // Starts recognizing the request; the handler always runs on the main
    // actor, never inside this call. The request must come from this
    // recognizer's makeRequest().
    virtual std::shared_ptr<SpeechRecognitionTask>
    recognitionTask(std::shared_ptr<SpeechAudioBufferRecognitionRequest> request, ResultHandler handler) = 0;

    // Speech recognized in two requests, one ended at a pause of `pause`
    // seconds, is one sentence or two, and only the words on both sides
    // tell: people pause inside sentences as often as between them. The
    // text `after` written to go on from `before` (both written by this
    // recognizer, in that order) when the same sentence goes on over the
    // pause; none when a sentence ends there, or the recognizer has no
    // model to tell by. Any thread; it may read its model the first time.
    virtual std::optional<std::string> continuation(const std::string& before, const std::string& after,
                                                    double pause) const
    {
        (void)before;
        (void)after;
        (void)pause;
        return std::nullopt;
    }

    // A recognizer that writes no mark after a request's last word (its
    // silence may yet go on into the same sentence) leaves the closing of a
    // sentence to its caller: the mark that closes the last sentence of
    // `text` (written by this recognizer), "?" for a question, else ".".
    // None when the recognizer writes its marks itself. Any thread.
    virtual std::optional<std::string> closingMark(const std::string& text) const
    {
        (void)text;
        return std::nullopt;
    }
};

// The system's speech recognition: permission and recognizers per locale.
class SpeechRecognitionService {
public:
    SpeechRecognitionService() = default;
    SpeechRecognitionService(const SpeechRecognitionService&) = delete;
    SpeechRecognitionService& operator=(const SpeechRecognitionService&) = delete;
    virtual ~SpeechRecognitionService() = default;

    // Asks for permission (once; later calls answer from the stored choice).
    // The handler may run on any thread.
    virtual void requestAuthorization(std::function<void(SpeechAuthorizationStatus)> handler) = 0;
    // None when nothing here recognizes the locale (a BCP 47 identifier such
    // as "en-US").
    virtual std::shared_ptr<SpeechRecognizer> makeRecognizer(const std::string& locale) = 0;
};

}  // namespace parlaro
