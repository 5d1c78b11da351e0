#include "speech/OnDeviceSession.h"

#include "platform/Platform.h"
#include "platform/TextServices.h"
#include "runtime/Runtime.h"
#include "speech/InterfaceLanguage.h"
#include "speech/Localization.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <sstream>
#include <string_view>
#include <utility>

namespace parlaro {

namespace {

std::uint64_t uptimeNanoseconds()
{
    double seconds = rt::clock().uptime();
    return seconds <= 0.0 ? 0 : static_cast<std::uint64_t>(std::llround(seconds * 1e9));
}

std::string trimmed(const std::string& text)
{
    return HeldSentences::trimmedText(text, 0, utf16Length(text));
}

// Whether the text already ends with a mark that closes a sentence.
bool endsWithStop(const std::string& text)
{
    for (const std::string_view stop : {".", "?", "!", "。", "？", "！", "…"})
        if (text.ends_with(stop))
            return true;
    return false;
}

// The mark that closes the last sentence of `text`, as the recognizer that
// wrote it reads it ("?" after a question); a full stop when it cannot say.
std::string stopAfter(const std::shared_ptr<SpeechRecognizer>& recognizer, const std::string& text)
{
    auto mark = recognizer ? recognizer->closingMark(text) : std::nullopt;
    return mark ? *mark : std::string(".");
}

// A final text ends its last sentence: a recognizer that leaves the mark to
// its caller has it added here, since no word after it can follow.
std::string closedText(const std::shared_ptr<SpeechRecognizer>& recognizer, const std::string& text)
{
    if (text.empty() || endsWithStop(text) || !recognizer)
        return text;
    const auto mark = recognizer->closingMark(text);
    return mark ? text + *mark : text;
}

std::vector<HeldSentences::Word> wordsOf(const Transcription& transcription)
{
    std::vector<HeldSentences::Word> words;
    words.reserve(transcription.segments.size());
    for (const auto& segment : transcription.segments) {
        auto location = std::max<std::int64_t>(segment.substringRange.location, 0);
        auto length = std::max<std::int64_t>(segment.substringRange.length, 0);
        words.push_back(
            HeldSentences::Word{Utf16Range{static_cast<std::size_t>(location), static_cast<std::size_t>(length)}});
    }
    return words;
}

}  // namespace

OnDeviceSession::OnDeviceSession(std::string locale, RecognitionMode mode,
                                 std::shared_ptr<SpeechRecognitionService> recognition)
    : locale_(std::move(locale)), mode_(mode), recognition_(std::move(recognition))
{
}

// Start.

rt::Async<SpeechAuthorizationStatus> OnDeviceSession::authorize(std::shared_ptr<SpeechRecognitionService> recognition)
{
    co_return co_await rt::withContinuation<SpeechAuthorizationStatus>(
        [recognition](rt::Continuation<SpeechAuthorizationStatus> answered) {
            recognition->requestAuthorization([answered](SpeechAuthorizationStatus status) {
                if (!answered.isResumed())
                    answered.resume(status);
            });
        });
}

void OnDeviceSession::requireOnDeviceModel(SpeechRecognitionService* recognition, const std::string& locale)
{
    auto probe = recognition ? recognition->makeRecognizer(locale) : nullptr;
    if (probe && probe->supportsOnDeviceRecognition())
        return;
    std::string name = platform().text->displayName(locale, InterfaceLanguage::current());
    if (name.empty())
        name = locale;
    throw ModuleError(
        ModuleID::recognition, 2,
        localized(
            "这台 Mac 上%@的本机识别模型由系统管理。请打开「系统设置 › 键盘 › 听写」，在语言中添加%@，等待下载完成后回到本软件。",
            name, name));
}

rt::Async<void> OnDeviceSession::start(ResultHandler onResult, FailureHandler onFailure)
{
    std::weak_ptr<OnDeviceSession> weak = weak_from_this();
    auto recognition = recognition_;
    // A system without speech recognition has no recognizer for any locale.
    if (!recognition)
        throw ModuleError(ModuleID::recognition, 1, localized("本机不支持 %@ 语音识别", locale_));
    auto status = co_await authorize(recognition);
    auto self = weak.lock();
    if (!self)
        throw rt::CancellationError();
    if (status != SpeechAuthorizationStatus::authorized)
        throw ModuleError(ModuleID::recognition, 3,
                          localized("没有「语音识别」权限。请在「系统设置 › 隐私与安全性 › 语音识别」里允许本软件。"));
    // This recognizer serves the session; the on-device check makes its own.
    auto recognizer = recognition->makeRecognizer(locale_);
    if (!recognizer)
        throw ModuleError(ModuleID::recognition, 1, localized("本机不支持 %@ 语音识别", locale_));
    requireOnDeviceModel(recognition_.get(), locale_);
    // The recognizer's handlers already arrive on the main actor.
    {
        std::lock_guard lock(lock_);
        if (stopped_)
            throw rt::CancellationError();
    }
    onResult_ = std::move(onResult);
    onFailure_ = std::move(onFailure);
    joiner_ = recognizer;
    {
        std::lock_guard lock(lock_);
        recognizer_ = std::move(recognizer);
    }
    startRequest();
    std::lock_guard lock(lock_);
    if (request_)
        targetFormat_ = request_->nativeAudioFormat();
}

void OnDeviceSession::startRequest()
{
    std::shared_ptr<SpeechRecognizer> recognizer;
    {
        std::lock_guard lock(lock_);
        if (stopped_ || !recognizer_)
            return;
        recognizer = recognizer_;
    }
    auto request = recognizer->makeRequest();
    request->options.requiresOnDeviceRecognition = true;
    request->options.shouldReportPartialResults = true;
    request->options.addsPunctuation = true;
    request->options.taskHint = SpeechTaskHint::dictation;
    // Listening hears the other party; every other mode the user's microphone.
    request->options.audioSource = mode_ == RecognitionMode::continuous ? "far-end" : "microphone";
    if (!input_.empty())
        request->options.audioSource += ":" + input_;

    std::int64_t generation = 0;
    std::shared_ptr<SpeechAudioBufferRecognitionRequest> old;
    std::optional<std::pair<std::int64_t, Voiced>> ended;
    {
        std::lock_guard lock(lock_);
        if (stopped_)
            return;
        if (request_ && currentHasAudio_ && mode_ != RecognitionMode::continuous)
            ended = std::pair{generation_, currentVoiced()};
        generation = ++generation_;
        old = std::exchange(request_, request);
        openedAt_ = uptimeNanoseconds();
        firstVoice_ = 0;
        currentHasAudio_ = false;
        failed_ = false;
    }
    // Stored outside the lock the audio threads wait on.
    if (ended)
        voiced_[ended->first] = ended->second;
    if (old)
        old->endAudio();
    expireOlderTasks(generation);
    std::weak_ptr<OnDeviceSession> weak = weak_from_this();
    tasks_[generation] =
        recognizer->recognitionTask(request,
                                    [weak, generation](const std::optional<SpeechRecognitionResult>& result,
                                                       const std::optional<DomainError>& error) {
                                        if (auto self = weak.lock())
                                            self->handleResult(generation, result, error);
                                    });
}

// Audio.

void OnDeviceSession::append(std::shared_ptr<const PcmBuffer> buffer)
{
    if (!buffer || buffer->frameLength() == 0)
        return;
    std::lock_guard lock(lock_);
    if (stopped_ || failed_ || !request_)
        return;
    // The request copies what it is given, so a buffer already in its format
    // (or any buffer before the format is known) goes in as it is.
    std::optional<PcmBuffer> converted;
    const PcmBuffer* toAppend = buffer.get();
    if (targetFormat_ && buffer->format() != *targetFormat_) {
        converted = convert(*buffer);
        if (!converted)
            return;
        toAppend = &*converted;
    }
    if (peakLevel(*buffer) >= voiceLevel) {
        lastVoice_ = uptimeNanoseconds();
        if (firstVoice_ == 0)
            firstVoice_ = lastVoice_;
    }
    currentHasAudio_ = true;
    request_->append(*toAppend);
}

std::optional<PcmBuffer> OnDeviceSession::convert(const PcmBuffer& buffer)
{
    if (!converter_ || converter_->inputFormat() != buffer.format()) {
        converter_.reset();
        try {
            converter_.emplace(buffer.format(), *targetFormat_, AudioConverter::Quality::medium);
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }
    auto capacity =
        static_cast<std::size_t>(std::floor(targetFormat_->sampleRate * static_cast<double>(buffer.frameLength())
                                            / buffer.format().sampleRate))
        + 1024;
    bool handedOver = false;
    try {
        auto converted = converter_->convert(capacity, [&](std::size_t, AudioConverter::InputStatus& status) {
            if (handedOver) {
                status = AudioConverter::InputStatus::noDataNow;
                return static_cast<const PcmBuffer*>(nullptr);
            }
            handedOver = true;
            status = AudioConverter::InputStatus::haveData;
            return &buffer;
        });
        if (converted.status == AudioConverter::OutputStatus::error || converted.buffer.frameLength() == 0)
            return std::nullopt;
        return std::move(converted.buffer);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// Results.

std::int64_t OnDeviceSession::currentGeneration()
{
    std::lock_guard lock(lock_);
    return generation_;
}

void OnDeviceSession::deliver(const std::string& text, bool isFinal)
{
    // A copy, so the callback may replace the stored one while it runs.
    if (auto onResult = onResult_)
        onResult(text, isFinal);
}

void OnDeviceSession::fail(const ModuleError& error)
{
    {
        std::lock_guard lock(lock_);
        failed_ = true;
    }
    if (auto onFailure = onFailure_)
        onFailure(error);
}

void OnDeviceSession::handleResult(std::int64_t generation, const std::optional<SpeechRecognitionResult>& result,
                                   const std::optional<DomainError>& error)
{
    if (!tasks_.contains(generation))
        return;
    bool current = generation == currentGeneration();

    if (result) {
        failures_ = 0;
        std::string text = result->bestTranscription.formattedString;
        if (mode_ == RecognitionMode::held) {
            auto words = wordsOf(result->bestTranscription);
            if (!result->isFinal) {
                // Only the newest request sends sentences, and only once the
                // pieces before it are sent or known: a sentence taken from
                // another would never be sent, and one sent before them
                // would reach the other party out of order.
                if (current && piecesBeforeDone(generation)) {
                    // Taken in place: the state remembers how far into the
                    // text it has walked, which a copy per revision would
                    // cost again.
                    auto taken = held_[generation].take(text, words);
                    for (std::size_t i = 0; i < taken.sentences.size(); ++i)
                        deliver(i == 0 ? takePiecesBefore(generation, taken.sentences[i]) : taken.sentences[i], true);
                    text = taken.rest;
                }
            } else {
                const auto found = held_.find(generation);
                const std::string sent = found != held_.end() ? found->second.sent : std::string();
                auto covered = HeldSentences::sentWordCount(text, words, sent);
                text = HeldSentences::remainder(text, words, covered, sent);
            }
            // What follows a sentence sent is a sentence of its own, also
            // where a later revision reads the words as going on over the
            // pause and so writes them without a capital.
            if (const auto found = held_.find(generation); found != held_.end() && !found->second.sent.empty())
                text = asSentenceStart(text);
        }
        if (!result->isFinal) {
            texts_[generation] = text;
            if (auto piece = pieces_.find(generation); piece != pieces_.end() && !piece->second.done)
                piece->second.text = trimmed(text);
            if (current) {
                sendPiecesBefore(generation);
                deliver(withPieces(generation, text), false);
                if (mode_ == RecognitionMode::continuous && !ending_)
                    schedulePauseCheck(currentGeneration(), uptimeNanoseconds(), firstPauseCheck);
                // A press's pause is watched from its first words on, not
                // from the last change of its text: a decoder behind the
                // speaker changes it well into the pause.
                if (mode_ != RecognitionMode::continuous && !ending_
                    && std::exchange(watched_, generation) != generation)
                    schedulePauseCheck(generation, uptimeNanoseconds(), pauseCheckInterval);
            }
        } else {
            completeGeneration(generation, text);
            if (current && !ending_)
                startRequest();
        }
        return;
    }
    if (!error)
        return;

    // The last partial text of the failed request becomes its final text.
    completeGeneration(generation, std::nullopt);
    if (!current)
        return;
    if (error->domain() == "kLSRErrorDomain" && error->code() == 201) {
        fail(ModuleError(
            ModuleID::recognition, 6,
            localized("语音识别需要打开「听写」：请打开「系统设置 › 键盘 › 听写」，打开听写后点「重试」。")));
        return;
    }
    bool quiet = error->domain() == "kAFAssistantErrorDomain" && error->code() == 1110;
    if (!quiet)
        ++failures_;
    if (failures_ <= maxFailures) {
        if (!ending_) {
            auto index = std::clamp<std::int64_t>(failures_ - 1, 0, std::size(restartDelays) - 1);
            scheduleRestart(generation, quiet ? quietRestartDelay : restartDelays[index]);
        }
        return;
    }
    fail(ModuleError(ModuleID::recognition, 5, localized("语音识别反复停止：%@", error->localizedDescription())));
}

void OnDeviceSession::scheduleRestart(std::int64_t generation, double after)
{
    std::weak_ptr<OnDeviceSession> weak = weak_from_this();
    rt::postAfter(after, [weak, generation] {
        auto self = weak.lock();
        // A finish that began during the wait takes no new request: it
        // would never see its audio end.
        if (!self || self->ending_ || self->currentGeneration() != generation)
            return;
        self->startRequest();
    });
}

void OnDeviceSession::completeGeneration(std::int64_t generation, std::optional<std::string> text)
{
    auto found = tasks_.find(generation);
    if (found == tasks_.end())
        return;
    auto task = found->second;
    tasks_.erase(found);
    std::string finalText;
    if (text)
        finalText = *text;
    else if (auto partial = texts_.find(generation); partial != texts_.end())
        finalText = partial->second;
    finalText = trimmed(finalText);
    texts_.erase(generation);
    held_.erase(generation);
    if (!text)
        task->cancel();
    if (auto piece = pieces_.find(generation); piece != pieces_.end()) {
        piece->second.text = finalText;
        piece->second.done = true;
        // The live text shows the searched words of the finished sentence.
        const std::int64_t now = currentGeneration();
        if (!ending_ && now != generation) {
            sendPiecesBefore(now);
            const auto live = texts_.find(now);
            deliver(withPieces(now, live != texts_.end() ? live->second : std::string()), false);
        }
    } else if (!pieces_.empty()) {
        // After the texts of the pieces before it, in the order spoken.
        pieces_[generation] = Piece{finalText, true, false};
    } else if (!finalText.empty()) {
        deliver(closedText(joiner_, finalText), true);
    }
    deliverPieces();
    if (pieces_.empty())
        voiced_.erase(voiced_.begin(), voiced_.upper_bound(generation));
    if (!finishing_.empty() && tasks_.empty())
        resumeFinishing();
}

void OnDeviceSession::commitPiece(std::int64_t generation)
{
    const auto text = texts_.find(generation);
    pieces_[generation] = Piece{trimmed(text != texts_.end() ? text->second : std::string())};
    // Ending the request's audio makes the recognizer search it for its
    // final result while the next request takes what follows.
    startRequest();
}

OnDeviceSession::Voiced OnDeviceSession::voicedIn(std::int64_t generation) const
{
    if (const auto found = voiced_.find(generation); found != voiced_.end())
        return found->second;
    // The newest request still takes audio: what it heard so far.
    std::lock_guard lock(lock_);
    if (generation != generation_)
        return {};
    return currentVoiced();
}

OnDeviceSession::Voiced OnDeviceSession::currentVoiced() const
{
    return Voiced{firstVoice_, lastVoice_ >= openedAt_ ? lastVoice_ : 0};
}

double OnDeviceSession::pauseBetween(std::int64_t before, std::int64_t after) const
{
    const auto last = voicedIn(before).last;
    const auto first = voicedIn(after).first;
    // Pieces are cut only at a pause this long, whatever else is known.
    if (last == 0 || first <= last)
        return sentencePause;
    return std::max(sentencePause, static_cast<double>(first - last) / 1e9);
}

std::string OnDeviceSession::withPieces(std::int64_t before, const std::string& text) const
{
    std::string joined;
    // The piece whose text the joined text ends with.
    std::int64_t last = 0;
    const auto add = [&](std::int64_t generation, const std::string& piece) {
        if (piece.empty())
            return;
        if (!joined.empty()) {
            if (!endsWithStop(joined)) {
                const double pause = pauseBetween(last, generation);
                if (auto goingOn = joiner_ ? joiner_->continuation(joined, piece, pause) : std::nullopt) {
                    joined += ' ';
                    joined += *goingOn;
                    last = generation;
                    return;
                }
                joined += stopAfter(joiner_, joined);
            }
            joined += ' ';
        }
        joined += piece;
        last = generation;
    };
    for (auto piece = pieces_.begin(); piece != pieces_.end() && piece->first < before; ++piece)
        add(piece->first, piece->second.text);
    if (joined.empty())
        return text;
    add(before, trimmed(text));
    return joined;
}

bool OnDeviceSession::piecesBeforeDone(std::int64_t generation) const
{
    for (auto piece = pieces_.begin(); piece != pieces_.end() && piece->first < generation; ++piece)
        if (!piece->second.done)
            return false;
    return true;
}

std::string OnDeviceSession::takePiecesBefore(std::int64_t generation, const std::string& text)
{
    std::string joined = withPieces(generation, text);
    pieces_.erase(pieces_.begin(), pieces_.lower_bound(generation));
    voiced_.erase(voiced_.begin(), voiced_.lower_bound(generation));
    return joined;
}

void OnDeviceSession::sendPiecesBefore(std::int64_t generation)
{
    if (mode_ != RecognitionMode::held || pieces_.empty() || pieces_.begin()->first >= generation
        || !piecesBeforeDone(generation))
        return;
    const std::string before = withPieces(generation, std::string());
    if (!endsWithStop(before)) {
        // Whether a sentence ended at the pause is told from the first two
        // words after it; until both are heard the pieces wait.
        const auto live = texts_.find(generation);
        std::istringstream words(live != texts_.end() ? live->second : std::string());
        std::string first;
        std::string second;
        if (before.empty() || !(words >> first >> second))
            return;
        const double pause = pauseBetween(std::prev(pieces_.lower_bound(generation))->first, generation);
        if (joiner_ && joiner_->continuation(before, live->second, pause)) {
            breakSeen_.reset();
            return;
        }
        // The first words after a pause are often misheard at first, and a
        // sentence sent cannot be taken back: they must read as a break in
        // two revisions of the live text.
        auto seen = std::pair{generation, first + ' ' + second};
        if (std::exchange(breakSeen_, seen) != seen)
            return;
    }
    breakSeen_.reset();
    takePiecesBefore(generation, std::string());
    if (!before.empty())
        deliver(endsWithStop(before) ? before : before + stopAfter(joiner_, before), true);
}

void OnDeviceSession::deliverPieces()
{
    // The pieces up to the last final result among the finished ones at the
    // front; all of them once nothing more can come.
    auto last = pieces_.end();
    for (auto piece = pieces_.begin(); piece != pieces_.end() && piece->second.done; ++piece)
        if (!piece->second.atPause)
            last = piece;
    if (ending_ && tasks_.empty() && !pieces_.empty())
        last = std::prev(pieces_.end());
    if (last == pieces_.end())
        return;
    const std::int64_t through = last->first;
    std::string text = withPieces(through, last->second.text);
    pieces_.erase(pieces_.begin(), std::next(last));
    voiced_.erase(voiced_.begin(), voiced_.upper_bound(through));
    text = trimmed(text);
    if (!text.empty())
        deliver(closedText(joiner_, text), true);
}

void OnDeviceSession::expireOlderTasks(std::int64_t before)
{
    for (const auto& [generation, task] : tasks_) {
        if (generation >= before)
            break;
        expireAfter(generation, finalFallback, 0.0);
    }
}

void OnDeviceSession::expireAfter(std::int64_t generation, double after, double waited)
{
    std::weak_ptr<OnDeviceSession> weak = weak_from_this();
    rt::postAfter(after, [weak, generation, waited = waited + after] {
        auto self = weak.lock();
        if (!self)
            return;
        const auto found = self->tasks_.find(generation);
        if (found == self->tasks_.end())
            return;
        const double longest =
            self->mode_ == RecognitionMode::continuous && !self->ending_ ? longestCaptionWait : longestFinalWait;
        if (found->second->isFinishing() && waited < longest)
            self->expireAfter(generation, finishingCheck, waited);
        else
            self->completeGeneration(generation, std::nullopt);
    });
}

// Pause commit.

void OnDeviceSession::schedulePauseCheck(std::int64_t generation, std::uint64_t since, double after)
{
    pauseCommit_.cancel();
    std::weak_ptr<OnDeviceSession> weak = weak_from_this();
    pauseCommit_ = rt::postAfter(after, [weak, generation, since] {
        if (auto self = weak.lock())
            self->checkPause(generation, since);
    });
}

void OnDeviceSession::checkPause(std::int64_t generation, std::uint64_t since)
{
    if (currentGeneration() != generation)
        return;
    auto text = texts_.find(generation);
    if (text == texts_.end() || text->second.empty())
        return;
    auto now = uptimeNanoseconds();
    std::uint64_t lastVoice = 0;
    {
        std::lock_guard lock(lock_);
        lastVoice = lastVoice_;
    }
    const double quiet = now >= lastVoice ? static_cast<double>(now - lastVoice) / 1e9 : 0.0;
    if (mode_ != RecognitionMode::continuous) {
        // Words read into what was never loud enough for a voice end no
        // sentence.
        if (quiet >= sentencePause && lastVoice >= openedAt_)
            commitPiece(generation);
        else
            schedulePauseCheck(generation, since, pauseCheckInterval);
        return;
    }
    bool silence = quiet >= pauseSilence;
    double elapsed = now >= since ? static_cast<double>(now - since) / 1e9 : 0.0;
    if (silence || elapsed >= longestUncommitted) {
        // Ending the request's audio makes the recognizer deliver its final
        // result, which becomes the committed sentence.
        startRequest();
        return;
    }
    schedulePauseCheck(generation, since, pauseCheckInterval);
}

// End.

rt::Async<void> OnDeviceSession::finish()
{
    std::weak_ptr<OnDeviceSession> weak = weak_from_this();
    co_await rt::withContinuation<void>([weak](rt::Continuation<void> waiter) {
        if (auto self = weak.lock())
            self->beginFinish(waiter);
        else
            waiter.resume();
    });
    if (auto self = weak.lock())
        self->shutDown();
}

void OnDeviceSession::beginFinish(rt::Continuation<void> waiter)
{
    pauseCommit_.cancel();
    pauseCommit_ = {};
    ending_ = true;
    finishing_.push_back(waiter);
    std::shared_ptr<SpeechAudioBufferRecognitionRequest> request;
    std::int64_t generation = 0;
    bool hasAudio = false;
    {
        std::lock_guard lock(lock_);
        request = std::exchange(request_, nullptr);
        generation = generation_;
        hasAudio = currentHasAudio_;
    }
    // A request that never heard anything has nothing to wait for.
    if (!hasAudio && tasks_.contains(generation))
        completeGeneration(generation, std::nullopt);
    if (request)
        request->endAudio();
    expireOlderTasks(generation + 1);
    if (tasks_.empty()) {
        deliverPieces();
        resumeFinishing();
    }
}

void OnDeviceSession::resumeFinishing()
{
    auto waiters = std::exchange(finishing_, {});
    for (const auto& waiter : waiters)
        if (!waiter.isResumed())
            waiter.resume();
}

rt::Async<void> OnDeviceSession::cancel()
{
    shutDown();
    co_return;
}

void OnDeviceSession::shutDown()
{
    std::shared_ptr<SpeechAudioBufferRecognitionRequest> request;
    {
        std::lock_guard lock(lock_);
        stopped_ = true;
        ++generation_;
        request = std::exchange(request_, nullptr);
    }
    if (request)
        request->endAudio();
    pauseCommit_.cancel();
    pauseCommit_ = {};
    auto tasks = std::exchange(tasks_, {});
    for (const auto& [generation, task] : tasks)
        task->cancel();
    texts_.clear();
    held_.clear();
    pieces_.clear();
    voiced_.clear();
    resumeFinishing();
}

}  // namespace parlaro
